// Speaker-arrangement helpers: variable-length blocks from the array allocator.
#include "AudioEffectX.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace
{
std::size_t arrangementBytes(VstInt32 channels)
{
    return offsetof(VstSpeakerArrangement, speakers) +
           sizeof(VstSpeakerProperties) * static_cast<std::size_t>(channels);
}

// Blocks may hold more speakers than the record declares, so index through the block itself.
VstSpeakerProperties* speakerAt(VstSpeakerArrangement* arrangement, VstInt32 i)
{
    return reinterpret_cast<VstSpeakerProperties*>(reinterpret_cast<char*>(arrangement) +
                                                   arrangementBytes(i));
}

void freeArrangement(VstSpeakerArrangement* arrangement)
{
    delete[] reinterpret_cast<char*>(arrangement);
}
}  // namespace

bool AudioEffectX::allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 nbChannels)
{
    if (*arrangement != nullptr)
    {
        freeArrangement(*arrangement);
        *arrangement = nullptr;
    }
    // On 32-bit targets a large count would wrap the block size into a small block.
    if (nbChannels < 0 ||
        static_cast<std::size_t>(nbChannels) >
            (SIZE_MAX - offsetof(VstSpeakerArrangement, speakers)) / sizeof(VstSpeakerProperties))
        return false;

    char* block = new (std::nothrow) char[arrangementBytes(nbChannels)];
    if (block == nullptr)
        return false;
    std::memset(block, 0, arrangementBytes(nbChannels));
    *arrangement = reinterpret_cast<VstSpeakerArrangement*>(block);
    (*arrangement)->numChannels = nbChannels;
    return true;
}

bool AudioEffectX::deallocateArrangement(VstSpeakerArrangement** arrangement)
{
    if (*arrangement != nullptr)
    {
        freeArrangement(*arrangement);
        *arrangement = nullptr;
    }
    return true;
}

bool AudioEffectX::copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from)
{
    if (from == nullptr || to == nullptr)
        return false;
    if (to == from)
        return true;
    // The name may arrive unterminated: copy at most 63 characters and always terminate.
    vst_strncpy(to->name, from->name, sizeof(to->name) - 1);
    to->type = from->type;
    to->azimuth = from->azimuth;
    to->elevation = from->elevation;
    to->radius = from->radius;
    to->reserved = from->reserved;
    std::memcpy(to->future, from->future, sizeof(to->future));
    return true;
}

bool AudioEffectX::matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from)
{
    if (from == nullptr)
        return false;
    // Freeing the destination first would leave the source dangling when both are one block.
    if (*to == from)
        return true;
    if (!deallocateArrangement(to))
        return false;
    if (!allocateArrangement(to, from->numChannels))
        return false;
    (*to)->type = from->type;
    for (VstInt32 i = 0; i < (*to)->numChannels; i++)
    {
        if (!copySpeaker(speakerAt(*to, i), speakerAt(from, i)))
            return false;
    }
    return true;
}
