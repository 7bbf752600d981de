#pragma once
// The command line is a front end on the operations layer: the commands use
// its names as their own.

namespace vantoro::ops {
}

namespace vantoro::cli {
using namespace vantoro::ops;
}
