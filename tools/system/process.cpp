#include "system/process.h"

std::string ExpandCommand(const std::string& line, const std::string& quoted) {
    std::string result;
    for (std::size_t k = 0; k < line.size(); ++k) {
        if (line[k] == '%' && k + 1 < line.size() && line[k + 1] == '1') {
            result += quoted;
            ++k;
        } else if (line[k] == '%' && k + 1 < line.size() && line[k + 1] == '%') {
            result += '%';
            ++k;
        } else {
            result += line[k];
        }
    }
    return result;
}
