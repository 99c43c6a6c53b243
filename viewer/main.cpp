// Lumivex: the program's entry point.  The one argument is the model file to
// view; without it the scene file's models are shown.
#include "viewer.h"

int main(int argc, char** argv) {
    Viewer viewer;
    if (viewer.Init(nullptr, argc >= 2 ? argv[1] : nullptr) < 0) return -1;
    if (viewer.Run() < 0) return -1;
    return 0;
}
