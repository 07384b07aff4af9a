#include <cstdlib>

#include "frontend/dispatch.h"

int wmain(int argc, wchar_t** argv)
{
    // Through the runtime's normal exit, which also ends any bridge thread.
    std::exit(runCommandLine(argc, argv));
}
