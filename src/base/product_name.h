// The built-in product name, never overridden: a macro, so that texts built from it are
// constants, and plain C, so that the resource script's version information names it too.
#pragma once
#define LOADER_PRODUCT_NAME "Halvorn Casino"
