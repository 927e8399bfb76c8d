#include "diskwalker.h"
#include "gaudivolume.h"

namespace {

// One reader for the whole process; its destruction at exit closes the image.
D88Image image;

constexpr ToolParams kGaudiTool = {
    "d88vol", "Usage: %s [d88file]\n", 3, extractGaudiVolume, false,
};

} // namespace

int main(int argc, char** argv) { return runTool(argc, argv, kGaudiTool, image); }
