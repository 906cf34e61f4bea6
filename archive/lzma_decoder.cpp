#include "archive/lzma_decoder.h"

// The SDK's decoder, built into this file. The loops over bit trees stay
// loops (the SDK's size option): that is 2 KB less in every setup.
#define _LZMA_SIZE_OPT
#include "LzmaDec.c"

#include "common/helpers.h"

static void* SdkAllocate(void*, size_t size) {
    void* block = nullptr;
    return AllocateBlock(static_cast<u32>(size), &block) ? block : nullptr;
}

static void SdkFree(void*, void* address) { ReleaseBlock(&address); }

static ISzAlloc sdkAllocator = {SdkAllocate, SdkFree};

static CLzmaDec* Decoder(LzmaState* state) { return static_cast<CLzmaDec*>(state->decoder); }

bool SetLzmaProperties(LzmaState* state, u8 properties, u32 dictionary) {
    CLzmaDec* decoder = Decoder(state);
    if (decoder == nullptr) {
        if (!AllocateBlock(sizeof(CLzmaDec), &decoder)) return false;
        LzmaDec_Construct(decoder);
        state->decoder = decoder;
    }
    Byte header[LZMA_PROPS_SIZE] = {properties, static_cast<Byte>(dictionary), static_cast<Byte>(dictionary >> 8),
                                    static_cast<Byte>(dictionary >> 16), static_cast<Byte>(dictionary >> 24)};
    return LzmaDec_AllocateProbs(decoder, header, LZMA_PROPS_SIZE, &sdkAllocator) == SZ_OK;
}

void ReleaseLzmaState(LzmaState* state) {
    if (state->decoder == nullptr) return;
    LzmaDec_FreeProbs(Decoder(state), &sdkAllocator);
    ReleaseBlock(&state->decoder);
}

void StartLzmaBlock(LzmaState* state, u8* window, u32 windowSize) {
    CLzmaDec* decoder = Decoder(state);
    decoder->dic = window;
    decoder->dicBufSize = windowSize;
    LzmaDec_Init(decoder);
}

void StartLzmaChunk(LzmaState* state, bool resetState) { LzmaDec_InitDicAndState(Decoder(state), False, resetState); }

void KeepStoredBytes(LzmaState* state, const u8* data, u32 size) {
    CLzmaDec* p = Decoder(state);
    if (p->checkDicSize == 0 && p->prop.dicSize - p->processedPos <= size) p->checkDicSize = p->prop.dicSize;
    p->processedPos += size;
    while (size > 0) {
        if (p->dicPos == p->dicBufSize) p->dicPos = 0;
        SizeT n = p->dicBufSize - p->dicPos < size ? p->dicBufSize - p->dicPos : size;
        memcpy(p->dic + p->dicPos, data, n);
        p->dicPos += n;
        data += n;
        size -= static_cast<u32>(n);
    }
}

bool UnpackLzma(LzmaState* state, const u8* input, u32 inputSize, u32* consumed, u8* output, u32 outputSize,
                u32* produced) {
    SizeT outLength = outputSize;
    SizeT inLength = inputSize;
    ELzmaStatus status;
    SRes result = LzmaDec_DecodeToBuf(Decoder(state), output, &outLength, input, &inLength, LZMA_FINISH_ANY, &status);
    *consumed = static_cast<u32>(inLength);
    *produced = static_cast<u32>(outLength);
    return result == SZ_OK;
}
