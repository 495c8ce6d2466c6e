// Stands in for bin/torvel-downloader in the self-update tests' bundles: a real program for
// this processor that appends "<its bundle> <the bundle's share/readme.txt>" to the file named
// by TORVEL_TEST_MARKER, so a test sees which bundle was started, and from where.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

int main(int, char *argv[]) {
    const char *marker = std::getenv("TORVEL_TEST_MARKER");
    std::string bundle = argv[0];
    for (int step = 0; step < 2; ++step)
        bundle.erase(bundle.rfind('/'));
    std::ifstream readme(bundle + "/share/readme.txt");
    std::stringstream version;
    version << readme.rdbuf();
    if (marker)
        std::ofstream(marker, std::ios::app) << bundle << ' ' << version.str() << '\n';
    return 0;
}
