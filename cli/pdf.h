// A PDF of an HTML page, printed by headless Chromium (Debian's `chromium`).
#pragma once

#include <string>

namespace tavrin::cli {

// Prints `html` to the PDF file `pdfPath`. StateError saying how to install
// Chromium when it is not on PATH; FileError when it fails or writes nothing.
void printToPdf(const std::string& html, const std::string& pdfPath);

}  // namespace tavrin::cli
