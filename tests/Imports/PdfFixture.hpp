#pragma once
// Small PDF documents written at test time: pages of a given size and turn, with a drawing of their own.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace ombry::test {

struct PdfPage {
    double width = 1024, height = 768;  // points
    int rotate = 0;                     // /Rotate in degrees
    // Content stream; default: the left half red, a line of text.
    std::string content = "1 0 0 rg 0 0 512 768 re f BT /F1 48 Tf 560 400 Td (Slide) Tj ET";
};

// A well-formed PDF 1.4 file (objects, cross-reference table, trailer) with one Helvetica font.
inline std::string pdfBytes(const std::vector<PdfPage>& pages) {
    std::vector<std::string> objects;  // object n + 1
    std::string kids;
    const size_t firstPage = 4;  // 1 catalog, 2 pages, 3 font, then page and content pairs
    for (size_t i = 0; i < pages.size(); ++i) kids += std::to_string(firstPage + 2 * i) + " 0 R ";
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (size_t i = 0; i < pages.size(); ++i) {
        const PdfPage& p = pages[i];
        char box[96];
        std::snprintf(box, sizeof box, "[0 0 %.3f %.3f]", p.width, p.height);
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox " + std::string(box) + " /Rotate " +
                          std::to_string(p.rotate) + " /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                          std::to_string(firstPage + 2 * i + 1) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(p.content.size()) + " >>\nstream\n" + p.content + "\nendstream");
    }
    std::string out = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t o : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return out;
}

inline std::filesystem::path writePdf(const std::filesystem::path& path, const std::vector<PdfPage>& pages) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << pdfBytes(pages);
    return path;
}

}  // namespace ombry::test
