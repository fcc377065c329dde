// names.cpp -- output names: extensions, PNG sequence patterns and partial
// names.
#include "export/names.h"

#include <algorithm>
#include <cctype>

namespace exporter {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::size_t extensionDot(const std::string& path) {
    const std::size_t base = folderOf(path).size();
    const std::size_t dot = path.rfind('.');
    return dot != std::string::npos && dot > base && dot + 1 < path.size() ? dot
                                                                           : std::string::npos;
}

std::string lowerExtension(const std::string& path) {
    const std::size_t dot = extensionDot(path);
    std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

bool isFramePattern(const std::string& path) {
    if (lowerExtension(path) != "png") return false;
    int directives = 0;
    for (std::size_t i = folderOf(path).size(); i < path.size(); ++i) {
        if (path[i] != '%') continue;
        if (i + 1 < path.size() && path[i + 1] == '%') {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        if (j + 1 < path.size() && path[j] == '0' && path[j + 1] >= '1' && path[j + 1] <= '9')
            j += 2;
        if (j >= path.size() || path[j] != 'd') return false;
        ++directives;
        i = j;
    }
    return directives == 1;
}

std::string frameName(const std::string& pattern, std::int64_t number) {
    std::string out = folderOf(pattern);
    for (std::size_t i = out.size(); i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            out += pattern[i];
        } else if (pattern[i + 1] == '%') {
            out += '%';
            ++i;
        } else {
            std::size_t width = 0;
            if (pattern[i + 1] == '0') {
                width = std::size_t(pattern[i + 2] - '0');
                i += 2;
            }
            const std::string digits = std::to_string(number);
            if (digits.size() < width) out.append(width - digits.size(), '0');
            out += digits;
            ++i; // the 'd'
        }
    }
    return out;
}

std::string partialName(const std::string& path, const std::string& tag) {
    const std::size_t dot = extensionDot(path);
    if (dot == std::string::npos) return path + ".partial-" + tag;
    return path.substr(0, dot) + ".partial-" + tag + path.substr(dot);
}

bool isPartialOf(const std::string& name, const std::string& base, std::string& tag) {
    const std::string probe = partialName(base, "#");
    const std::size_t hash = probe.find('#', probe.rfind(".partial-"));
    const std::string head = probe.substr(0, hash), tail = probe.substr(hash + 1);
    if (name.size() <= head.size() + tail.size() || !name.starts_with(head) ||
        !name.ends_with(tail))
        return false;
    tag = name.substr(head.size(), name.size() - head.size() - tail.size());
    return tag.size() <= 10 &&
           std::all_of(tag.begin(), tag.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace exporter
