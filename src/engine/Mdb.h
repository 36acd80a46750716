#pragma once

// libmdb's header includes glib inside its extern "C" block, which breaks glib's C++ parts
// (templates with C linkage). Including glib first makes the inner include a no-op.
#include <glib.h>

#include <mdbtools.h>
