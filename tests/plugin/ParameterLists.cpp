// Compiled, never run: each list below names every parameter, and each -D the build test passes
// takes one entry out or moves one, which must stop the compiler. Without a -D it must compile,
// so a failure with one comes from the list and not from the include path.
#include "KestruneBlock.h"
#include "KestruneParameters.h"

namespace
{

using namespace VAZiro;

struct Fields
{
    int attack, release, ratio, useSidechain, threshold, makeup;
};

#if defined(LEAVE_ONE_OUT)
constexpr auto kList = byParameter<int Fields::*>({{kAttack, &Fields::attack},
                                                   {kRelease, &Fields::release},
                                                   {kRatio, &Fields::ratio},
                                                   {kUseSidechain, &Fields::useSidechain},
                                                   {kThreshold, &Fields::threshold}});
#elif defined(OUT_OF_ORDER)
constexpr auto kList = byParameter<int Fields::*>({{kAttack, &Fields::attack},
                                                   {kRelease, &Fields::release},
                                                   {kUseSidechain, &Fields::useSidechain},
                                                   {kRatio, &Fields::ratio},
                                                   {kThreshold, &Fields::threshold},
                                                   {kMakeup, &Fields::makeup}});
#else
constexpr auto kList = byParameter<int Fields::*>({{kAttack, &Fields::attack},
                                                   {kRelease, &Fields::release},
                                                   {kRatio, &Fields::ratio},
                                                   {kUseSidechain, &Fields::useSidechain},
                                                   {kThreshold, &Fields::threshold},
                                                   {kMakeup, &Fields::makeup}});
#endif
static_assert(kList[kMakeup] == &Fields::makeup, "indexed by parameter");

#if defined(SETTINGS_ONE_SHORT)
constexpr KestruneSettings kSettings = settingsOf(10.0f, 100.0f, 4.0f, false, -30.0f);
#else
constexpr KestruneSettings kSettings = settingsOf(10.0f, 100.0f, 4.0f, false, -30.0f, 0.0f);
#endif
static_assert(kSettings.threshold == -30.0f, "filled in table order");

}  // namespace
