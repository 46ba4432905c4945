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

inline constexpr uint8_t READY_BYTE = 0x31;
inline constexpr uint8_t UPGRADE_ACK_BYTE = 0x02;

inline constexpr size_t IN_PACKET_SIZE = 16;      // ready packet, upgrade acknowledgement
inline constexpr size_t KIND_PACKET_SIZE = 8;
inline constexpr size_t BLOCK_HEADER_SIZE = 12;
inline constexpr size_t DATA_HEADER_SIZE = 16;
inline constexpr size_t COMMAND_PACKET_SIZE = 16;
inline constexpr size_t MAX_WRITE_PIECE = 4096;   // bulk data goes out in pieces no larger

inline constexpr uint32_t BLOCK_SIZE = 0x40000;  // bytes per block of the block download
inline constexpr uint32_t BOOT_AREA_SIZE = 0x20000;
inline constexpr uint32_t BIN_STREAM_HEADER_SIZE = 15;
inline constexpr uint32_t BIN_RECORD_HEADER_SIZE = 12;

// Image kinds as the handset knows them.
inline constexpr int32_t KIND_DIO = 1;
inline constexpr int32_t KIND_SMALL_BIN = 2;
inline constexpr int32_t KIND_NB0_SMALL = 3;
inline constexpr int32_t KIND_NB0_LARGE = 4;
inline constexpr int32_t KIND_IMG = 5;
inline constexpr int32_t KIND_LARGE_BIN = 6;
inline constexpr int32_t KIND_RAW = 7;
inline constexpr int32_t KIND_NOT_CORRECT = 9;

// Interface class under which the handset presents itself on Windows.
inline constexpr const char* HANDSET_INTERFACE_CLASS = "{25DBCE51-6C8F-4A72-8A6D-B54C2B4FC835}";

}  // namespace brenvik
