// Kestrune's text operations called directly, as a derived class or a host wrapper may call them:
// a null buffer is never written and the operations that answer report false.

#include "Kestrune.h"
#include "ParameterFacts.h"
#include "SentinelBuffer.h"

#include <gtest/gtest.h>

namespace
{

using VAZiro::Kestrune;

TEST(KestruneText, NullBuffersAreRefusedWithoutWriting)
{
    Kestrune effect(nullptr);
    for (VstInt32 index = -1; index <= kref::kParameterCount; ++index)
    {
        effect.getParameterName(index, nullptr);
        effect.getParameterLabel(index, nullptr);
        effect.getParameterDisplay(index, nullptr);
    }
    effect.getProgramName(nullptr);
    effect.setProgramName(nullptr);
    EXPECT_FALSE(effect.getProgramNameIndexed(0, 0, nullptr));
    EXPECT_FALSE(effect.getEffectName(nullptr));
    EXPECT_FALSE(effect.getVendorString(nullptr));
    EXPECT_FALSE(effect.getProductString(nullptr));

    // The null rename left the stored name alone.
    SentinelBuffer name;
    effect.getProgramName(name.data());
    EXPECT_TRUE(name.holdsTerminated("init 1"));
}

TEST(KestruneText, TheSameOperationsWithABufferAnswerTrue)
{
    Kestrune effect(nullptr);
    SentinelBuffer indexed, effectName, vendor, product;
    EXPECT_TRUE(effect.getProgramNameIndexed(0, 0, indexed.data()));
    EXPECT_TRUE(effect.getEffectName(effectName.data()));
    EXPECT_TRUE(effect.getVendorString(vendor.data()));
    EXPECT_TRUE(effect.getProductString(product.data()));
    EXPECT_TRUE(indexed.holdsTerminated("init"));
    EXPECT_TRUE(effectName.holds("Kestrune", 32));
    EXPECT_TRUE(vendor.holds("Brisk Lantern", 64));
    EXPECT_TRUE(product.holds("Brisk Lantern sidechain compressor", 64));
}

}  // namespace
