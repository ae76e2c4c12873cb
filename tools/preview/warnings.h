// The preview's warnings: each thing it could not show, said once with how often it came up.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace preview {

class Warnings {
  public:
    void Add(const std::string& text) {
        if (counts_[text]++ == 0) {
            order_.push_back(text);
        }
    }

    // In the order they first came up, "(N times)" after one that came up more than once; none are kept.
    std::vector<std::string> Take() {
        std::vector<std::string> out;
        for (const std::string& text : order_) {
            const int n = counts_[text];
            out.push_back(n > 1 ? text + " (" + std::to_string(n) + " times)" : text);
        }
        counts_.clear();
        order_.clear();
        return out;
    }

  private:
    std::map<std::string, int> counts_;
    std::vector<std::string> order_;
};

} // namespace preview
