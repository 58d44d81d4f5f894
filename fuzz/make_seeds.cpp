// Writes the sample site's pages as seed inputs for the fuzz targets:
//   make_seeds DIR
// puts result pages into DIR/result_page and DIR/html_engine, detail pages
// into DIR/sections and DIR/html_engine, and the detail pages with an HTTP
// header line in front into DIR/charset. Files are named after what they
// hold, so running it again rewrites the same files with the same bytes.

#include "tools/sample-site/Pages.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& dir, const std::string& name, const std::string& bytes)
{
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + (dir / name).string());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_seeds DIR\n";
        return 2;
    }
    const fs::path root = argv[1];
    try {
        for (const char* code : {"osl", "adl", "slo", "nil"}) {
            for (int page = 1;; ++page) {
                const auto html = site::ResultPage(code, page);
                if (!html)
                    break;
                const std::string name = std::string("result-") + code + "-" + std::to_string(page) + ".html";
                Write(root / "result_page", name, *html);
                Write(root / "html_engine", name, *html);
            }
        }
        for (const char* id : {"osl-1", "osl-7", "adl-2", "slow-2", "slow-x"}) {
            const auto hotel = site::FindHotel(id);
            if (!hotel)
                continue;
            const std::string name = std::string("detail-") + id + ".html";
            const std::string html = site::DetailPage(*hotel);
            Write(root / "sections", name, html);
            Write(root / "html_engine", name, html);
            Write(root / "charset", name, "text/html; charset=utf-8\n" + html);
        }
        if (const auto hotel = site::FindHotel("osl-1")) {
            Write(root / "html_engine", "photo-osl-1.html", site::PhotoPage(*hotel));
            Write(root / "html_engine", "map-osl-1.html", site::MapPage(*hotel));
        }
        Write(root / "html_engine", "index.html", site::IndexPage());
        Write(root / "html_engine", "error-404.html", site::ErrorPage(404, "Not Found"));
    } catch (const std::exception& e) {
        std::cerr << "make_seeds: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
