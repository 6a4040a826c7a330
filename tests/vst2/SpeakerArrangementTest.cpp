// Speaker-arrangement helpers: record layout, variable-length blocks of 8 + 112 * n bytes from the
// array allocator, speaker copies that always terminate the name, and matchArrangement reaching
// the overridable helpers. Run under the sanitizer build, a leaked or wrongly freed block fails.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "AudioEffectX.h"
#include "Bits.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define KESTRUNE_TEST_HAS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define KESTRUNE_TEST_HAS_ASAN 1
#endif
#endif

// The helpers allocate with the non-throwing array new. This replacement sees every such request:
// it records the size, can be told to fail the next one, and fills what it returns with a pattern
// so the zero fill is observable. The block itself comes from the throwing array new, so the
// sanitizer still checks that it goes back through delete[].
namespace ArrayNew
{
std::size_t requests = 0;
std::size_t lastSize = 0;
bool failNext = false;
constexpr unsigned char fillByte = 0xA5;
}  // namespace ArrayNew

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    ArrayNew::requests++;
    ArrayNew::lastSize = size;
    if (ArrayNew::failNext)
    {
        ArrayNew::failNext = false;
        return nullptr;
    }
    void* block = nullptr;
    try
    {
        block = ::operator new[](size);
    }
    catch (...)
    {
        return nullptr;
    }
    std::memset(block, ArrayNew::fillByte, size);
    return block;
}

namespace
{
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kSpeakerBytes = 112;

// Speaker i of a block; blocks may hold more than the eight speakers the record declares.
VstSpeakerProperties* speakerAt(VstSpeakerArrangement* arrangement, std::size_t i)
{
    return reinterpret_cast<VstSpeakerProperties*>(reinterpret_cast<unsigned char*>(arrangement) + kHeaderBytes +
                                                   kSpeakerBytes * i);
}

bool allBytesAre(const void* block, std::size_t bytes, unsigned char value)
{
    const unsigned char* p = static_cast<const unsigned char*>(block);
    for (std::size_t i = 0; i < bytes; i++)
    {
        if (p[i] != value)
            return false;
    }
    return true;
}

// A freed block stays poisoned in the address sanitizer's quarantine; other builds cannot tell.
#if defined(KESTRUNE_TEST_HAS_ASAN)
#define EXPECT_FREED(block) EXPECT_TRUE(__asan_address_is_poisoned(block))
#else
#define EXPECT_FREED(block) static_cast<void>(block)
#endif

using kestrune_test::bitsOf;
using kestrune_test::floatFromBits;

// A speaker whose every field holds something recognisable, including float patterns an
// arithmetic copy could change (negative zero, a signalling NaN, a denormal).
void fillSpeaker(VstSpeakerProperties& s, int seed)
{
    std::memset(&s, 0, sizeof s);
    s.azimuth = 0.25f * static_cast<float>(seed + 1);
    s.elevation = floatFromBits(0x80000000u);                            // -0.0
    s.radius = floatFromBits(0x7FA00000u | static_cast<std::uint32_t>(seed));  // signalling NaN
    s.reserved = floatFromBits(0x00000001u + static_cast<std::uint32_t>(seed));  // denormal
    std::snprintf(s.name, sizeof s.name, "Speaker %d", seed);
    s.type = 100 + seed;
    for (std::size_t i = 0; i < sizeof s.future; i++)
        s.future[i] = static_cast<char>(seed * 7 + static_cast<int>(i) + 1);
}

class SpeakerEffect : public AudioEffectX
{
public:
    SpeakerEffect() : AudioEffectX(nullptr, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

// A source of the given channel count with distinct speakers and a non-zero type, built through the helpers.
VstSpeakerArrangement* makeSource(SpeakerEffect& effect, VstInt32 channels, VstInt32 type)
{
    VstSpeakerArrangement* source = nullptr;
    EXPECT_TRUE(effect.allocateArrangement(&source, channels));
    source->type = type;
    for (VstInt32 i = 0; i < channels; i++)
        fillSpeaker(*speakerAt(source, static_cast<std::size_t>(i)), i);
    return source;
}
}  // namespace

TEST(SpeakerRecords, LayoutMatchesTheInterface)
{
    EXPECT_EQ(offsetof(VstSpeakerProperties, azimuth), 0u);
    EXPECT_EQ(offsetof(VstSpeakerProperties, elevation), 4u);
    EXPECT_EQ(offsetof(VstSpeakerProperties, radius), 8u);
    EXPECT_EQ(offsetof(VstSpeakerProperties, reserved), 12u);
    EXPECT_EQ(offsetof(VstSpeakerProperties, name), 16u);
    EXPECT_EQ(sizeof(VstSpeakerProperties::name), 64u);
    EXPECT_EQ(offsetof(VstSpeakerProperties, type), 80u);
    EXPECT_EQ(sizeof(VstSpeakerProperties::type), 4u);
    EXPECT_EQ(offsetof(VstSpeakerProperties, future), 84u);
    EXPECT_EQ(sizeof(VstSpeakerProperties::future), 28u);

    EXPECT_EQ(offsetof(VstSpeakerArrangement, type), 0u);
    EXPECT_EQ(offsetof(VstSpeakerArrangement, numChannels), 4u);
    EXPECT_EQ(sizeof(VstSpeakerArrangement::speakers), 8u * 112u);
}

TEST(AllocateArrangement, BlockHoldsExactlyTheChannelsAndIsZeroFilled)
{
    struct Case
    {
        VstInt32 channels;
        std::size_t bytes;
    };
    const Case cases[] = {{0, 8}, {1, 120}, {2, 232}, {6, 680}, {8, 904}, {10, 1128}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.channels);
        SpeakerEffect effect;
        VstSpeakerArrangement* a = nullptr;
        const std::size_t before = ArrayNew::requests;
        ASSERT_TRUE(effect.allocateArrangement(&a, c.channels));
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(ArrayNew::requests, before + 1);
        EXPECT_EQ(ArrayNew::lastSize, c.bytes);
        EXPECT_EQ(a->type, 0);
        EXPECT_EQ(a->numChannels, c.channels);

        // Every byte past the header is zero, then every byte can be written; the sanitizer
        // catches a block that is shorter than the channels it claims.
        VstSpeakerArrangement expectedHeader{};
        expectedHeader.numChannels = c.channels;
        EXPECT_EQ(std::memcmp(a, &expectedHeader, kHeaderBytes), 0);
        EXPECT_TRUE(allBytesAre(reinterpret_cast<unsigned char*>(a) + kHeaderBytes, c.bytes - kHeaderBytes, 0));
        for (VstInt32 i = 0; i < c.channels; i++)
            fillSpeaker(*speakerAt(a, static_cast<std::size_t>(i)), i);

        EXPECT_TRUE(effect.deallocateArrangement(&a));
        EXPECT_EQ(a, nullptr);
    }
}

TEST(AllocateArrangement, SecondAllocationFreesTheFirstBlock)
{
    SpeakerEffect effect;
    VstSpeakerArrangement* a = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&a, 2));
    VstSpeakerArrangement* first = a;
    speakerAt(a, 1)->type = 7;

    ASSERT_TRUE(effect.allocateArrangement(&a, 10));
    ASSERT_NE(a, nullptr);
    EXPECT_FREED(first);
    EXPECT_EQ(a->numChannels, 10);
    EXPECT_EQ(ArrayNew::lastSize, 1128u);
    EXPECT_TRUE(allBytesAre(speakerAt(a, 0), 10 * kSpeakerBytes, 0));

    EXPECT_TRUE(effect.deallocateArrangement(&a));
    EXPECT_EQ(a, nullptr);
}

TEST(AllocateArrangement, NegativeCountFreesTheOldBlockAndFails)
{
    SpeakerEffect effect;
    VstSpeakerArrangement* a = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&a, 3));
    VstSpeakerArrangement* old = a;
    const std::size_t before = ArrayNew::requests;

    EXPECT_FALSE(effect.allocateArrangement(&a, -1));
    EXPECT_EQ(a, nullptr);
    EXPECT_FREED(old);
    EXPECT_EQ(ArrayNew::requests, before);

    EXPECT_FALSE(effect.allocateArrangement(&a, -2147483647 - 1));
    EXPECT_EQ(a, nullptr);
}

TEST(AllocateArrangement, AllocationFailureLeavesNullAndFails)
{
    SpeakerEffect effect;
    VstSpeakerArrangement* a = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&a, 4));
    VstSpeakerArrangement* old = a;

    ArrayNew::failNext = true;
    EXPECT_FALSE(effect.allocateArrangement(&a, 4));
    EXPECT_FALSE(ArrayNew::failNext);
    EXPECT_EQ(a, nullptr);
    EXPECT_FREED(old);

    // The helper works again once memory is there.
    EXPECT_TRUE(effect.allocateArrangement(&a, 1));
    EXPECT_TRUE(effect.deallocateArrangement(&a));
}

TEST(AllocateArrangement, HugeCountIsNeverRequestedAsAWrappedSize)
{
    // 38347923 speakers need 4294967384 bytes, which wraps to 88 in a 32-bit size_t. The test
    // allocator refuses the request, so no build allocates gigabytes here.
    for (VstInt32 channels : {38347923, 2147483647})
    {
        SCOPED_TRACE(channels);
        SpeakerEffect effect;
        VstSpeakerArrangement* a = nullptr;
        const std::size_t before = ArrayNew::requests;
        ArrayNew::failNext = true;
        EXPECT_FALSE(effect.allocateArrangement(&a, channels));
        EXPECT_EQ(a, nullptr);
        if (ArrayNew::requests != before)
        {
            EXPECT_EQ(static_cast<std::uint64_t>(ArrayNew::lastSize),
                      8u + 112u * static_cast<std::uint64_t>(channels));
        }
        ArrayNew::failNext = false;
    }
}

TEST(DeallocateArrangement, NullVariableIsFine)
{
    SpeakerEffect effect;
    VstSpeakerArrangement* a = nullptr;
    EXPECT_TRUE(effect.deallocateArrangement(&a));
    EXPECT_EQ(a, nullptr);
    EXPECT_TRUE(effect.deallocateArrangement(&a));
    EXPECT_EQ(a, nullptr);
}

TEST(CopySpeaker, CopiesEveryFieldBitForBit)
{
    SpeakerEffect effect;
    VstSpeakerProperties from;
    fillSpeaker(from, 5);
    VstSpeakerProperties to;
    std::memset(&to, 0xCC, sizeof to);

    EXPECT_TRUE(effect.copySpeaker(&to, &from));
    // The rest of the name after its terminator is zero, so the whole record equals the source.
    EXPECT_EQ(std::memcmp(&to, &from, sizeof to), 0);
    EXPECT_EQ(bitsOf(to.radius), bitsOf(from.radius));
    EXPECT_EQ(bitsOf(to.elevation), 0x80000000u);
}

TEST(CopySpeaker, UnterminatedNameIsCutTo63CharactersAndTerminated)
{
    // A 70-character name: its first 64 characters fill the field without a terminator and the
    // rest run on into the bytes that follow it.
    const char* text = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!#$%&()*";
    VstSpeakerProperties source;
    fillSpeaker(source, 2);
    std::memcpy(source.name, text, 64);
    std::memcpy(&source.type, text + 64, 4);
    std::memcpy(source.future, text + 68, 2);

    VstSpeakerProperties to;
    std::memset(&to, 0xCC, sizeof to);
    SpeakerEffect effect;
    EXPECT_TRUE(effect.copySpeaker(&to, &source));

    EXPECT_EQ(std::memcmp(to.name, text, 63), 0);
    EXPECT_EQ(to.name[63], 0);
    EXPECT_EQ(to.type, source.type);
    EXPECT_EQ(std::memcmp(to.future, source.future, sizeof to.future), 0);
    EXPECT_EQ(bitsOf(to.azimuth), bitsOf(source.azimuth));
}

TEST(CopySpeaker, ShortNameLeavesTheRestOfTheFieldZero)
{
    VstSpeakerProperties from;
    fillSpeaker(from, 0);
    std::memcpy(from.name, "L\0garbage", 9);
    VstSpeakerProperties to;
    std::memset(&to, 0xCC, sizeof to);
    SpeakerEffect effect;
    EXPECT_TRUE(effect.copySpeaker(&to, &from));
    EXPECT_EQ(to.name[0], 'L');
    EXPECT_TRUE(allBytesAre(to.name + 1, 63, 0));
}

TEST(CopySpeaker, NullArgumentsCopyNothing)
{
    SpeakerEffect effect;
    VstSpeakerProperties s;
    fillSpeaker(s, 3);
    VstSpeakerProperties snapshot = s;
    EXPECT_FALSE(effect.copySpeaker(nullptr, &s));
    EXPECT_FALSE(effect.copySpeaker(&s, nullptr));
    EXPECT_FALSE(effect.copySpeaker(nullptr, nullptr));
    EXPECT_EQ(std::memcmp(&s, &snapshot, sizeof s), 0);
}

TEST(CopySpeaker, OntoItselfChangesNothing)
{
    SpeakerEffect effect;
    VstSpeakerProperties s;
    fillSpeaker(s, 4);
    std::memset(s.name, 'N', sizeof s.name);  // unterminated: a real copy would change byte 63
    VstSpeakerProperties snapshot = s;
    EXPECT_TRUE(effect.copySpeaker(&s, &s));
    EXPECT_EQ(std::memcmp(&s, &snapshot, sizeof s), 0);
}

TEST(MatchArrangement, NullSourceFailsAndLeavesTheDestination)
{
    SpeakerEffect effect;
    VstSpeakerArrangement* a = nullptr;
    EXPECT_FALSE(effect.matchArrangement(&a, nullptr));
    EXPECT_EQ(a, nullptr);

    ASSERT_TRUE(effect.allocateArrangement(&a, 2));
    a->type = 3;
    fillSpeaker(*speakerAt(a, 1), 1);
    unsigned char snapshot[232];
    std::memcpy(snapshot, a, sizeof snapshot);
    VstSpeakerArrangement* held = a;
    const std::size_t before = ArrayNew::requests;

    EXPECT_FALSE(effect.matchArrangement(&a, nullptr));
    EXPECT_EQ(a, held);
    EXPECT_EQ(std::memcmp(a, snapshot, sizeof snapshot), 0);
    EXPECT_EQ(ArrayNew::requests, before);
    EXPECT_TRUE(effect.deallocateArrangement(&a));
}

TEST(MatchArrangement, CopiesTypeAndEverySpeakerOfTheSource)
{
    for (VstInt32 channels : {0, 2, 6, 10})
    {
        SCOPED_TRACE(channels);
        SpeakerEffect effect;
        VstSpeakerArrangement* source = makeSource(effect, channels, 0x1234 + channels);
        VstSpeakerArrangement* a = nullptr;
        ASSERT_TRUE(effect.allocateArrangement(&a, 3));
        VstSpeakerArrangement* old = a;

        EXPECT_TRUE(effect.matchArrangement(&a, source));
        ASSERT_NE(a, nullptr);
        EXPECT_FREED(old);
        EXPECT_EQ(ArrayNew::lastSize, kHeaderBytes + kSpeakerBytes * static_cast<std::size_t>(channels));
        EXPECT_EQ(a->numChannels, channels);
        EXPECT_EQ(a->type, 0x1234 + channels);
        for (VstInt32 i = 0; i < channels; i++)
        {
            SCOPED_TRACE(i);
            const std::size_t k = static_cast<std::size_t>(i);
            EXPECT_EQ(std::memcmp(speakerAt(a, k), speakerAt(source, k), kSpeakerBytes), 0);
        }
        EXPECT_NE(a, source);

        EXPECT_TRUE(effect.deallocateArrangement(&a));
        EXPECT_TRUE(effect.deallocateArrangement(&source));
    }
}

TEST(MatchArrangement, IntoANullVariable)
{
    SpeakerEffect effect;
    VstSpeakerArrangement* source = makeSource(effect, 6, 9);
    VstSpeakerArrangement* a = nullptr;
    EXPECT_TRUE(effect.matchArrangement(&a, source));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->numChannels, 6);
    EXPECT_EQ(a->type, 9);
    EXPECT_EQ(std::memcmp(speakerAt(a, 0), speakerAt(source, 0), 6 * kSpeakerBytes), 0);
    effect.deallocateArrangement(&a);
    effect.deallocateArrangement(&source);
}

TEST(MatchArrangement, SourceThatIsTheDestinationsOwnBlockStaysAsItIs)
{
    SpeakerEffect effect;
    VstSpeakerArrangement* a = makeSource(effect, 10, 5);
    std::memset(speakerAt(a, 9)->name, 'Z', 64);  // unterminated, so a copy would show
    std::vector<unsigned char> snapshot(1128);
    std::memcpy(snapshot.data(), a, snapshot.size());
    VstSpeakerArrangement* held = a;
    const std::size_t before = ArrayNew::requests;

    EXPECT_TRUE(effect.matchArrangement(&a, a));
    EXPECT_EQ(a, held);
    EXPECT_EQ(std::memcmp(a, snapshot.data(), snapshot.size()), 0);
    EXPECT_EQ(ArrayNew::requests, before);
    EXPECT_TRUE(effect.deallocateArrangement(&a));
}

TEST(MatchArrangement, NegativeSourceCountFreesTheDestinationAndFails)
{
    SpeakerEffect effect;
    VstSpeakerArrangement* source = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&source, 0));
    source->numChannels = -3;
    VstSpeakerArrangement* a = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&a, 2));
    VstSpeakerArrangement* old = a;

    EXPECT_FALSE(effect.matchArrangement(&a, source));
    EXPECT_EQ(a, nullptr);
    EXPECT_FREED(old);
    effect.deallocateArrangement(&source);
}

namespace
{
// Records every speaker copy and can refuse the copy with a given number.
class RecordingCopyEffect : public SpeakerEffect
{
public:
    bool copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from) override
    {
        copies.push_back({to, from});
        if (static_cast<int>(copies.size()) == refuseCopy)
            return false;
        return SpeakerEffect::copySpeaker(to, from);
    }

    struct Copy
    {
        VstSpeakerProperties* to;
        VstSpeakerProperties* from;
    };
    std::vector<Copy> copies;
    int refuseCopy = 0;  // 1-based; 0 refuses none
};

class RecordingAllocateEffect : public SpeakerEffect
{
public:
    bool allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 nbChannels) override
    {
        requests.push_back(nbChannels);
        if (refuse)
            return false;
        return SpeakerEffect::allocateArrangement(arrangement, nbChannels);
    }

    std::vector<VstInt32> requests;
    bool refuse = false;
};

class RefusingDeallocateEffect : public SpeakerEffect
{
public:
    bool deallocateArrangement(VstSpeakerArrangement** /*arrangement*/) override
    {
        calls++;
        return false;
    }
    int calls = 0;
};
}  // namespace

TEST(MatchArrangement, ReachesAnOverriddenCopySpeakerForEverySpeakerInOrder)
{
    RecordingCopyEffect effect;
    VstSpeakerArrangement* source = makeSource(effect, 10, 1);
    VstSpeakerArrangement* a = nullptr;
    EXPECT_TRUE(effect.matchArrangement(&a, source));
    ASSERT_EQ(effect.copies.size(), 10u);
    for (std::size_t i = 0; i < 10; i++)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(effect.copies[i].to, speakerAt(a, i));
        EXPECT_EQ(effect.copies[i].from, speakerAt(source, i));
    }
    effect.deallocateArrangement(&a);
    effect.deallocateArrangement(&source);
}

TEST(MatchArrangement, StopsAtTheFirstRefusedCopyLeavingTheRestZero)
{
    RecordingCopyEffect effect;
    effect.refuseCopy = 3;
    VstSpeakerArrangement* source = makeSource(effect, 6, 2);
    VstSpeakerArrangement* a = nullptr;

    EXPECT_FALSE(effect.matchArrangement(&a, source));
    EXPECT_EQ(effect.copies.size(), 3u);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->numChannels, 6);
    EXPECT_EQ(a->type, 2);
    EXPECT_EQ(std::memcmp(speakerAt(a, 0), speakerAt(source, 0), 2 * kSpeakerBytes), 0);
    EXPECT_TRUE(allBytesAre(speakerAt(a, 2), 4 * kSpeakerBytes, 0));
    effect.deallocateArrangement(&a);
    effect.deallocateArrangement(&source);
}

TEST(MatchArrangement, ReachesAnOverriddenAllocateArrangement)
{
    RecordingAllocateEffect effect;
    VstSpeakerArrangement* source = makeSource(effect, 6, 4);
    VstSpeakerArrangement* a = nullptr;
    effect.requests.clear();

    EXPECT_TRUE(effect.matchArrangement(&a, source));
    ASSERT_EQ(effect.requests.size(), 1u);
    EXPECT_EQ(effect.requests[0], 6);

    effect.refuse = true;
    EXPECT_FALSE(effect.matchArrangement(&a, source));
    EXPECT_EQ(effect.requests.size(), 2u);
    EXPECT_EQ(a, nullptr);  // freed by deallocateArrangement before the refused allocation

    effect.refuse = false;
    effect.deallocateArrangement(&source);
}

TEST(MatchArrangement, RefusedDeallocationStopsBeforeAllocating)
{
    RefusingDeallocateEffect effect;
    VstSpeakerArrangement* source = makeSource(effect, 2, 4);
    VstSpeakerArrangement* a = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&a, 1));
    VstSpeakerArrangement* held = a;
    const std::size_t before = ArrayNew::requests;

    EXPECT_FALSE(effect.matchArrangement(&a, source));
    EXPECT_EQ(effect.calls, 1);
    EXPECT_EQ(a, held);
    EXPECT_EQ(a->numChannels, 1);
    EXPECT_EQ(ArrayNew::requests, before);

    effect.SpeakerEffect::deallocateArrangement(&a);
    effect.SpeakerEffect::deallocateArrangement(&source);
}
