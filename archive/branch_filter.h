// The x86 branch converter. In x86 code the 32-bit operand of a CALL (E8)
// or JMP (E9) is relative to the instruction, so calls to one function
// differ everywhere; made absolute they repeat, and LZMA finds them. The
// build tool converts a block's bytes before it packs them and the setup
// program converts them back after unpacking. Only operands whose top byte
// is 00 or FF (near targets) are converted, and bytes just behind a
// converted candidate are judged by the same rule both ways, so the
// conversion is undone exactly whatever the bytes are.
#pragma once
#include "common/types.h"

// The converter's memory between calls: which of the last three bytes were
// E8/E9 candidates. Starts at 0 for each block.
struct BranchFilterState {
    u32 recentMask;
};

// Converts `data[0..size)`, which sits at `position` in its block. Returns
// how many bytes are final; the rest (at most 4, an operand that may be cut)
// must be passed again at the front of the next call, or left as they are
// when the block ends there.
u32 ConvertX86Branches(u8* data, u32 size, u32 position, BranchFilterState* state, bool encoding);
