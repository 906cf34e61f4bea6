// The LZMA decoder of solid blocks, the public-domain LZMA SDK's, behind a
// small interface so its headers stay in one file.
#pragma once
#include "common/types.h"

struct LzmaState {
    void* decoder;  // the SDK's decoder with its probability tables
};

// Makes the decoder ready for streams of `properties` (the lc/lp/pb byte),
// allocating its tables (about 15 KB for lc 3) again only when their size
// changes. False when there is no memory.
bool SetLzmaProperties(LzmaState* state, u8 properties, u32 dictionary);
void ReleaseLzmaState(LzmaState* state);

// Starts a new stream that unpacks through `window` (at least the stream's
// size or its dictionary size, whichever is smaller).
void StartLzmaBlock(LzmaState* state, u8* window, u32 windowSize);

// Starts the next chunk of the stream: the range coder begins anew and,
// with `resetState`, so do the probabilities; the dictionary goes on.
void StartLzmaChunk(LzmaState* state, bool resetState);

// Takes bytes stored as they are into the dictionary, for the matches of
// the chunks that follow.
void KeepStoredBytes(LzmaState* state, const u8* data, u32 size);

// Unpacks from `input` into `output`: *consumed input bytes, *produced output
// bytes. False when the stream is damaged.
bool UnpackLzma(LzmaState* state, const u8* input, u32 inputSize, u32* consumed, u8* output, u32 outputSize,
                u32* produced);
