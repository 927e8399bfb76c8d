#include "diskwalker.h"
#include "fatvolume.h"

namespace {

constexpr ToolParams kFatTool = {
    "d88fat", "Usage: %s [D88 file]\n", 4, extractFatVolume, true,
};

} // namespace

int main(int argc, char** argv) {
  // The reader lives in main: every return from it closes the image.
  D88Image image;
  return runTool(argc, argv, kFatTool, image);
}
