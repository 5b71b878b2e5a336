#pragma once
#include <cstddef>
#include <cstdint>

#include "base/BoundedWriter.h"

// Serialisation of H.264 NAL units: header byte, payload with emulation
// prevention, optionally a 4-byte start code in front.
namespace quillet {

// One NAL unit before serialisation: its header fields and its raw payload
// (the bytes after the header byte, without emulation-prevention bytes).
struct NalView {
    uint8_t ref_idc = 0; // 0..3
    uint8_t type = 0;    // nal_unit_type, 0..31
    const uint8_t* payload = nullptr;
    size_t size = 0;
};

// NAL unit types this code looks for.
enum NalType : uint8_t {
    kNalSliceNonIdr = 1,
    kNalSliceIdr = 5,
    kNalSei = 6,
    kNalSps = 7,
    kNalPps = 8,
};

enum class StartCode { None, FourBytes };

// Appends payload bytes, inserting 0x03 before any byte <= 0x03 that follows
// two zero bytes of the payload (the zero count restarts after each inserted
// byte and each non-zero byte). Returns the bytes appended, or 0
// when they do not fit: the writer then fails and nothing is written past its
// capacity.
size_t append_escaped(BoundedWriter& out, const uint8_t* payload, size_t size);

// Appends [00 00 00 01] (when asked), the header byte (ref_idc << 5 | type)
// and the escaped payload. Returns the bytes appended, or 0 when they do not fit.
size_t write_nal_unit(BoundedWriter& out, const NalView& nal, StartCode start_code);

// Undoes emulation prevention: drops every 0x03 that follows two zero bytes.
// dst needs room for size bytes (the result is never longer); it may equal
// src. Returns the payload length.
size_t remove_emulation_prevention(const uint8_t* src, size_t size, uint8_t* dst);

} // namespace quillet
