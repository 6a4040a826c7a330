// Prints where the editor puts its knobs in a window of a given size, for tests that drive the
// editor with a pointer from outside:
//   kestrune_editor_layout WIDTH HEIGHT SCALE
// one line per knob: its table index, its symbol and its centre in pixels.
#include "EditorLayout.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4)
    {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT SCALE\n", argc > 0 ? argv[0] : "kestrune_editor_layout");
        return 2;
    }
    const double width = std::atof(argv[1]), height = std::atof(argv[2]), scale = std::atof(argv[3]);
    if (!(width > 0.0 && height > 0.0 && scale > 0.0))
    {
        std::fprintf(stderr, "kestrune_editor_layout: sizes and scale must be numbers above 0\n");
        return 2;
    }
    const VAZiro::EditorLayout layout = VAZiro::layoutEditor(width, height, scale);
    for (int index = 0; index < VAZiro::kNumParameters; index++)
        std::printf("%d %s %.0f %.0f\n", index, VAZiro::kParameterInfo[index].symbol, layout.knobs[index].centreX,
                    layout.knobs[index].centreY);
    return 0;
}
