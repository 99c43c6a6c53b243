// Lumivex: the program's entry point.  The one argument is the model file to
// view; without it the scene file's models are shown.
#include "viewer.h"

int main(int argc, char** argv) {
    Viewer viewer;
    const HRESULT started = viewer.Init(nullptr, argc >= 2 ? argv[1] : nullptr);
    if (started < 0) return -1;
    if (started == S_FALSE) return 0;  // the user ended it during the start-up
    if (viewer.Run() < 0) return -1;
    return 0;
}
