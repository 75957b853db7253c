#include <benchmark/benchmark.h>

#include "tavrin/tavrin.h"
