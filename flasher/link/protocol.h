// Wire constants of the handset link, shared by the flasher and the handset emulator.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brenvik {

inline constexpr uint32_t KIND_MAGIC = 0x01234567;
inline constexpr uint32_t BLOCK_TAG = 0x123;
inline constexpr uint32_t DATA_MAGIC = 0xF9FBFDFF;
inline constexpr uint32_t COMMAND_MAGIC = 0xFFFDFBF9;
inline constexpr uint32_t DATA_TYPE_BOOT = 0x10000;
inline constexpr uint32_t DATA_TYPE_RECORD = 0x20000;
inline constexpr uint32_t CMD_TRANSFER_END = 0x200000;
inline constexpr uint32_t CMD_DOWNLOAD_END = 0x800000;

inline constexpr uint8_t kReadyByte = 0x31;
inline constexpr uint8_t kUpgradeAckByte = 0x02;

inline constexpr size_t kInPacketSize = 16;      // ready packet, upgrade acknowledgement
inline constexpr size_t kKindPacketSize = 8;
inline constexpr size_t kBlockHeaderSize = 12;
inline constexpr size_t kDataHeaderSize = 16;
inline constexpr size_t kCommandPacketSize = 16;
inline constexpr size_t kMaxWritePiece = 4096;   // bulk data goes out in pieces no larger

inline constexpr uint32_t kBlockSize = 0x40000;  // bytes per block of the block download
inline constexpr uint32_t kBootAreaSize = 0x20000;
inline constexpr uint32_t kBinStreamHeaderSize = 15;
inline constexpr uint32_t kBinRecordHeaderSize = 12;

// Image kinds as the handset knows them.
inline constexpr int32_t kKindDio = 1;
inline constexpr int32_t kKindSmallBin = 2;
inline constexpr int32_t kKindNb0Small = 3;
inline constexpr int32_t kKindNb0Large = 4;
inline constexpr int32_t kKindImg = 5;
inline constexpr int32_t kKindLargeBin = 6;
inline constexpr int32_t kKindRaw = 7;
inline constexpr int32_t kKindNotCorrect = 9;

// Interface class under which the handset presents itself on Windows.
inline constexpr const char* kHandsetInterfaceClass = "{25DBCE51-6C8F-4A72-8A6D-B54C2B4FC835}";

}  // namespace brenvik
