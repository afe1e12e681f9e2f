// The yardstick of bench/scale: a whole process that loads the same file(s)
// an ocmap command reads (read, parse with pugixml's default options, as the
// host's reader does) and exits. bench/scale times it from outside, exactly
// as it times ocmap, so process start, the page faults of building the
// document and the teardown at exit count on both sides alike.
//
// Every document stays alive until the process ends, as ocmap holds the
// store and the edit together. One line per file on standard output (the
// root element's name and how many children it has) makes the result
// observable; bench/scale sends it to /dev/null.
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <pugixml.hpp>

int main(int argc, char **argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: pugixml_parse FILE [FILE ...]\n");
        return 2;
    }
    std::vector<std::unique_ptr<pugi::xml_document>> docs;
    for (int i = 1; i < argc; ++i) {
        auto doc = std::make_unique<pugi::xml_document>();
        pugi::xml_parse_result r = doc->load_file(argv[i], pugi::parse_default);
        if (!r) {
            std::fprintf(stderr, "pugixml_parse: %s: %s at offset %td\n", argv[i], r.description(),
                         r.offset);
            return 2;
        }
        docs.push_back(std::move(doc));
    }
    for (std::size_t i = 0; i < docs.size(); ++i) {
        pugi::xml_node root = docs[i]->document_element();
        std::size_t children = 0;
        for (pugi::xml_node c = root.first_child(); c; c = c.next_sibling()) ++children;
        std::printf("%s: <%s> with %zu children\n", argv[i + 1], root.name(), children);
    }
    return 0;
}
