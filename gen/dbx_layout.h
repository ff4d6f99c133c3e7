// Where the generator puts things in a message folder (.dbx), as Outlook Express lays them out.
// Offsets are file offsets; all words little-endian. The generator has its own description of
// the format on purpose, apart from dbx/block_format.h and catalogue/dbx_format.h: what it
// writes checks the product's readers only while it does not share their reading of the format.
//
//   0x0000  file header (0x24BC bytes)
//   0x24BC  file-info area (0x618 bytes)
//   0x2AD4  first info chunk (0xC000): a view-filter object, then message-info records
//   0xEAD4  message segments of 0xF780 bytes, back to back: 120 data blocks each
//   ...     further info chunks for the records that did not fit the first
//   ...     index tree nodes, in chunks of 25
#ifndef QUILLON_GEN_DBX_LAYOUT_H_
#define QUILLON_GEN_DBX_LAYOUT_H_

#include <cstdint>

namespace quillon::gen::dbx {

inline constexpr uint32_t kHeaderSize = 0x24BC;
inline constexpr uint32_t kFileInfoOffset = 0x24BC;
inline constexpr uint32_t kFileInfoSize = 0x618;
// Within the file-info area: the source (byte: 0 news, 1 IMAP, 3 local), the account's registry
// key and the folder's name as first created, both zero-terminated.
inline constexpr uint32_t kFileInfoSourceField = 0x04;
inline constexpr uint32_t kFileInfoAccountField = 0x05;
inline constexpr uint32_t kFileInfoNameField = 0x105;

inline constexpr uint32_t kFirstInfoChunk = 0x2AD4;
inline constexpr uint32_t kInfoChunkSize = 0xC000;

inline constexpr uint32_t kFirstSegment = 0xEAD4;
inline constexpr uint32_t kSegmentSize = 0xF780;
inline constexpr uint32_t kBlockSize = 0x210;  // 16-byte header + data
inline constexpr uint32_t kBlockDataSize = 0x200;
inline constexpr uint32_t kBlocksPerSegment = kSegmentSize / kBlockSize;  // 120

// A deleted block's second and third words.
inline constexpr uint32_t kDeletedBlockSize = 0x1FC;
inline constexpr uint32_t kDeletedDataLength = 0x210;

inline constexpr uint32_t kNodeSize = 0x27C;
inline constexpr uint32_t kNodeHeaderSize = 0x18;
inline constexpr uint32_t kNodeEntrySize = 12;
inline constexpr uint32_t kNodeMaxEntries = 0x33;
inline constexpr uint32_t kTreeChunkNodes = 25;
inline constexpr uint32_t kTreeChunkSize = kTreeChunkNodes * kNodeSize;  // 0x3E1C

// The word after the magic CF AD 12 FE names the file's kind.
inline constexpr uint32_t kClassMessages = 0x6F74FDC5u;
inline constexpr uint32_t kClassFolders = 0x6F74FDC6u;
inline constexpr uint32_t kClassPop3uidl = 0x6F74FDC7u;
inline constexpr uint32_t kClassOffline = 0x26FE9D30u;
inline constexpr uint32_t kMagic = 0xFE12ADCFu;
// The 20 bytes after the class word in message folders and Folders.dbx.
inline constexpr uint8_t kStoreFileTag[20] = {0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00,
                                              0xC0, 0x4F, 0xA3, 0x09, 0xD4, 0x05, 0x00,
                                              0x00, 0x00, 0x05, 0x00, 0x00, 0x00};

// Header words.
inline constexpr uint32_t kFileInfoLengthField = 0x1C;
inline constexpr uint32_t kLastInfoChunkField = 0x24;
inline constexpr uint32_t kInfoChunkLengthField = 0x28;
inline constexpr uint32_t kInfoChunkUsedField = 0x2C;
inline constexpr uint32_t kLastTreeChunkField = 0x30;
inline constexpr uint32_t kTreeChunkLengthField = 0x34;
inline constexpr uint32_t kNodeSizeField = 0x38;
inline constexpr uint32_t kLastSegmentField = 0x3C;
inline constexpr uint32_t kSegmentLengthField = 0x40;
inline constexpr uint32_t kSegmentUsedField = 0x44;
inline constexpr uint32_t kDeletedListField = 0x48;
inline constexpr uint32_t kLastMessageIdField = 0x5C;
inline constexpr uint32_t kUsedSpaceField = 0x7C;
inline constexpr uint32_t kFilterObjectField = 0x88;
inline constexpr uint32_t kMessageCountField = 0xC4;
inline constexpr uint32_t kTreeRootField = 0xE4;

// Message-info fields.
inline constexpr uint8_t kInfoId = 0x00;
inline constexpr uint8_t kInfoFlags = 0x01;
inline constexpr uint8_t kInfoSentTime = 0x02;
inline constexpr uint8_t kInfoFirstBlock = 0x04;
inline constexpr uint8_t kInfoNormalizedSubject = 0x05;
inline constexpr uint8_t kInfoSavedTime = 0x06;
inline constexpr uint8_t kInfoMessageId = 0x07;
inline constexpr uint8_t kInfoSubject = 0x08;
inline constexpr uint8_t kInfoSenderName = 0x0D;
inline constexpr uint8_t kInfoSenderAddress = 0x0E;
inline constexpr uint8_t kInfoPriority = 0x10;
inline constexpr uint8_t kInfoSize = 0x11;
inline constexpr uint8_t kInfoReceivedTime = 0x12;
inline constexpr uint8_t kInfoReceiverName = 0x13;
inline constexpr uint8_t kInfoReceiverAddress = 0x14;
inline constexpr uint8_t kInfoAccountName = 0x1A;
inline constexpr uint8_t kInfoAccountNumber = 0x1B;

// Message flags seen in real folders: 0x01 body downloaded, 0x80 read, 0x4000 on messages with
// attachments.
inline constexpr uint32_t kFlagDownloaded = 0x01;
inline constexpr uint32_t kFlagRead = 0x80;
inline constexpr uint32_t kFlagAttachment = 0x4000;

// Offsets are 32-bit, and the used-space word must hold the file's length.
inline constexpr uint64_t kMaxFileSize = 0xFFFFFFFFu;

inline void StoreLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace quillon::gen::dbx

#endif  // QUILLON_GEN_DBX_LAYOUT_H_
