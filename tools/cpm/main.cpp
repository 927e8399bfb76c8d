#include "blockvolume.h"

int main(int argc, char** argv) { return runBlockTool(argc, argv); }
