// Plotly's minified script, built into the report module so that every
// report carries it inline and the report never depends on where the
// workbench's page is installed. Without Plotly at build time it is empty.
#include <string_view>

namespace tavrin::report {

#ifdef TAVRIN_PLOTLY_FILE
// The file's bytes as read-only data between two labels of this object.
__asm__(".pushsection .rodata\n"
        "tavrin_plotly_begin:\n"
        ".incbin \"" TAVRIN_PLOTLY_FILE "\"\n"
        "tavrin_plotly_end:\n"
        ".popsection\n");
extern "C" const char tavrin_plotly_begin[];
extern "C" const char tavrin_plotly_end[];

std::string_view plotlyScript() noexcept {
  return {tavrin_plotly_begin, static_cast<std::size_t>(tavrin_plotly_end - tavrin_plotly_begin)};
}
#else
std::string_view plotlyScript() noexcept { return {}; }
#endif

}  // namespace tavrin::report
