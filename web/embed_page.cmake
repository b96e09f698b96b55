# Writes the page into a header as a string, so that the program carries it and serves it
# without a file beside it. Run as cmake -DIN=page.html -DOUT=page_html.h -P embed_page.cmake.
file(READ ${IN} page)
file(WRITE ${OUT} "#pragma once\n// Made from web/page.html at build time.\nnamespace web {\n"
                  "inline constexpr char kPageHtml[] = R\"page(${page})page\";\n}\n")
