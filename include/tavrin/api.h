// Symbol visibility of the study layer's library: everything is hidden
// unless marked, so the library exports exactly its public interface.
#pragma once

#if defined(_WIN32)
#if defined(TAVRIN_BUILDING_LAYER)
#define TAVRIN_LAYER_API __declspec(dllexport)
#else
#define TAVRIN_LAYER_API __declspec(dllimport)
#endif
#else
#define TAVRIN_LAYER_API __attribute__((visibility("default")))
#endif
