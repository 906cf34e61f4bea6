#include "archive/branch_filter.h"

// An operand's top byte that marks a near target: 00 forwards, FF backwards.
static bool IsNearTopByte(u8 b) { return b == 0x00 || b == 0xFF; }

// Indexed by the mask of recent candidates (bit 0: one byte back, bit 2:
// three back): whether a candidate here may still be converted, and which
// operand byte (counted from the top) the earlier candidate would overlap.
static const u8 OverlapAllowed[8] = {1, 1, 1, 0, 1, 0, 0, 0};
static const u8 OverlapByte[8] = {0, 1, 2, 2, 3, 3, 3, 3};

static u32 ReadOperand(const u8* p) {
    return p[1] | (p[2] << 8) | (p[3] << 16) | (static_cast<u32>(p[4]) << 24);
}

// The converted operand. A result whose overlapped byte would turn into a
// near-target marker is converted again (folded), which the other direction
// repeats in the same steps.
static u32 ConvertOperand(u32 operand, u32 instructionEnd, u32 mask, bool encoding) {
    for (;;) {
        u32 converted = encoding ? operand + instructionEnd : operand - instructionEnd;
        if (mask == 0) return converted;
        u32 shift = OverlapByte[mask] * 8;
        if (!IsNearTopByte(static_cast<u8>(converted >> (24 - shift)))) return converted;
        operand = converted ^ ((1u << (32 - shift)) - 1);
    }
}

u32 ConvertX86Branches(u8* data, u32 size, u32 position, BranchFilterState* state, bool encoding) {
    if (size < 5) return 0;
    u32 mask = state->recentMask & 7;
    u32 at = 0;
    u32 lastCandidate = ~0u;  // none in this call: `mask` carries the earlier ones
    const u32 limit = size - 4;
    for (;;) {
        while (at < limit && (data[at] & 0xFE) != 0xE8) ++at;
        if (at >= limit) break;
        u8* p = data + at;
        u32 distance = at - lastCandidate;
        if (distance > 3) {
            mask = 0;
        } else {
            mask = (mask << (distance - 1)) & 7;
            if (mask != 0 && (!OverlapAllowed[mask] || IsNearTopByte(p[4 - OverlapByte[mask]]))) {
                lastCandidate = at;
                mask = ((mask << 1) & 7) | 1;
                ++at;
                continue;
            }
        }
        lastCandidate = at;
        if (!IsNearTopByte(p[4])) {
            mask = ((mask << 1) & 7) | 1;
            ++at;
            continue;
        }
        u32 converted = ConvertOperand(ReadOperand(p), position + at + 5, mask, encoding);
        // The top byte keeps only the sign, so it stays a near-target marker.
        p[4] = static_cast<u8>(0 - ((converted >> 24) & 1));
        p[3] = static_cast<u8>(converted >> 16);
        p[2] = static_cast<u8>(converted >> 8);
        p[1] = static_cast<u8>(converted);
        at += 5;
    }
    u32 distance = at - lastCandidate;
    state->recentMask = distance > 3 ? 0 : (mask << (distance - 1)) & 7;
    return at;
}
