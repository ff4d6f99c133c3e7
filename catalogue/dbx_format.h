// Where things lie in a mailbox file's header, trees and indexed records (docs/catalogue.md says
// what each is). Offsets are file offsets; words are little-endian.
#ifndef QUILLON_CATALOGUE_DBX_FORMAT_H_
#define QUILLON_CATALOGUE_DBX_FORMAT_H_

#include <cstdint>

namespace quillon::catalogue::dbx {

inline constexpr uint32_t kMagic = 0xFE12ADCFu;  // bytes CF AD 12 FE
inline constexpr uint32_t kClassMessages = 0x6F74FDC5u;
inline constexpr uint32_t kClassFolders = 0x6F74FDC6u;
inline constexpr uint32_t kClassPop3uidl = 0x6F74FDC7u;
inline constexpr uint32_t kClassOffline = 0x26FE9D30u;

inline constexpr uint32_t kHeaderSize = 0x24BC;

// Header words.
inline constexpr uint32_t kFileInfoLengthWord = 0x1C;
inline constexpr uint32_t kLastSegmentWord = 0x3C;
inline constexpr uint32_t kSegmentLengthWord = 0x40;
inline constexpr uint32_t kDeletedListWord = 0x48;
inline constexpr uint32_t kLastMessageIdWord = 0x5C;
inline constexpr uint32_t kUsedSpaceWord = 0x7C;
inline constexpr uint32_t kTreeCountWords[3] = {0xC4, 0xC8, 0xCC};
inline constexpr uint32_t kTreeRootWords[3] = {0xE4, 0xE8, 0xEC};

// The file-info area of a message folder, right after the header.
inline constexpr uint32_t kFileInfoOffset = kHeaderSize;
inline constexpr uint32_t kMessageFileInfoLength = 0x618;
inline constexpr uint32_t kFileInfoSource = 0x04;      // u8
inline constexpr uint32_t kFileInfoAccountKey = 0x05;  // zero-terminated, up to kFileInfoName
inline constexpr uint32_t kFileInfoName = 0x105;       // zero-terminated, to the area's end

// Tree nodes.
inline constexpr uint32_t kNodeSize = 0x27C;
inline constexpr uint32_t kNodeSelf = 0x00;
inline constexpr uint32_t kNodeLeftChild = 0x08;
inline constexpr uint32_t kNodeParent = 0x0C;
inline constexpr uint32_t kNodeEntryCount = 0x11;  // u8
inline constexpr uint32_t kNodeLeftCount = 0x14;   // values under the left child
inline constexpr uint32_t kNodeEntries = 0x18;
inline constexpr uint32_t kNodeEntrySize = 12;  // value, child, values under the child
inline constexpr uint32_t kNodeMaxEntries = 0x33;

// Indexed records: self offset, body length, u16, entry count (u8), change counter (u8).
inline constexpr uint32_t kRecordHeaderSize = 12;
inline constexpr uint32_t kRecordEntryCount = 10;  // u8
inline constexpr uint32_t kFieldDirect = 0x80;     // in an entry's low byte
inline constexpr uint32_t kFieldNumberMask = 0x7F;

// Message-info fields.
namespace message {
inline constexpr uint8_t kIndexId = 0x00;
inline constexpr uint8_t kFlags = 0x01;
inline constexpr uint8_t kSent = 0x02;
inline constexpr uint8_t kFirstBlock = 0x04;
inline constexpr uint8_t kNormalizedSubject = 0x05;
inline constexpr uint8_t kSaved = 0x06;
inline constexpr uint8_t kMessageId = 0x07;
inline constexpr uint8_t kSubject = 0x08;
inline constexpr uint8_t kSender = 0x09;
inline constexpr uint8_t kInReplyTo = 0x0A;
inline constexpr uint8_t kServer = 0x0C;
inline constexpr uint8_t kSenderName = 0x0D;
inline constexpr uint8_t kSenderAddress = 0x0E;
inline constexpr uint8_t kPriority = 0x10;
inline constexpr uint8_t kSize = 0x11;
inline constexpr uint8_t kReceived = 0x12;
inline constexpr uint8_t kReceiverName = 0x13;
inline constexpr uint8_t kReceiverAddress = 0x14;
inline constexpr uint8_t kAccount = 0x1A;
inline constexpr uint8_t kAccountKey = 0x1B;
}  // namespace message

// Folder-info fields (Folders.dbx).
namespace folder {
inline constexpr uint8_t kId = 0x00;
inline constexpr uint8_t kParent = 0x01;
inline constexpr uint8_t kName = 0x02;
inline constexpr uint8_t kFileName = 0x03;
inline constexpr uint8_t kAccountKey = 0x05;
inline constexpr uint8_t kFlags = 0x06;
inline constexpr uint8_t kMessageCount = 0x07;
inline constexpr uint8_t kUnreadCount = 0x08;
inline constexpr uint8_t kSpecial = 0x09;
inline constexpr uint8_t kKind = 0x0A;
}  // namespace folder

}  // namespace quillon::catalogue::dbx

#endif  // QUILLON_CATALOGUE_DBX_FORMAT_H_
