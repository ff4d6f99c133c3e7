// MD5 (RFC 1321), only to compare messages with the checksums published for the real sample files.
#ifndef QUILLON_ENGINE_TESTING_MD5_H_
#define QUILLON_ENGINE_TESTING_MD5_H_

#include <string>

namespace quillon {

// Upper-case hex digest of `data`.
std::string Md5Hex(const std::string& data);

}  // namespace quillon

#endif  // QUILLON_ENGINE_TESTING_MD5_H_
