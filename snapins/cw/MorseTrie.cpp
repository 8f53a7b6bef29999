#include "MorseTrie.h"

#include <cmath>
#include <string>

#include "MorseCode.h"

namespace rz::cw {

namespace {

// How often a character is sent, per thousand characters of amateur traffic:
// English letters, figures (reports, calls, times), a little punctuation.
double Frequency(std::string_view text)
{
    static constexpr std::string_view kLetters = "ETAOINSHRDLCUMWFGYPBVKJXQZ";
    static constexpr double kLetterFrequency[] = {110, 80, 72, 68, 64, 62, 58, 52, 56, 38, 36, 30, 26,
                                                  24,  22, 20, 18, 18, 18, 14, 10, 14, 3,  4,  6,  2};
    if (text.size() == 1 && kLetters.find(text[0]) != std::string_view::npos)
        return kLetterFrequency[kLetters.find(text[0])];
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '9')
        return 8.0;
    if (text.size() == 1 && std::string_view(".,?/").find(text[0]) != std::string_view::npos)
        return 3.0;
    return 1.0;
}

}  // namespace

MorseTrie::MorseTrie()
{
    m_nodes.emplace_back();
    std::vector<double> own(1, 0.0);
    // Every pattern up to the longest character, shortest first, so parents come before children.
    for (size_t length = 1; length <= kMaxPatternLength; ++length) {
        for (unsigned bits = 0; bits < (1u << length); ++bits) {
            std::string pattern;
            for (size_t i = 0; i < length; ++i)
                pattern += (bits >> (length - 1 - i)) & 1u ? '-' : '.';
            const std::string_view text = TextFor(pattern);
            if (text.empty())
                continue;
            int node = kRoot;
            for (const char symbol : pattern) {
                const Element element = symbol == '-' ? kDash : kDot;
                if (m_nodes[static_cast<size_t>(node)].child[element] == kNone) {
                    m_nodes[static_cast<size_t>(node)].child[element] = static_cast<int>(m_nodes.size());
                    Node added;
                    added.parent = node;
                    added.element = element;
                    m_nodes.push_back(added);
                    own.push_back(0.0);
                }
                node = m_nodes[static_cast<size_t>(node)].child[element];
            }
            m_nodes[static_cast<size_t>(node)].text = text;
            own[static_cast<size_t>(node)] = Frequency(text);
        }
    }
    // The weight of a node is its own and that of every pattern below it.
    std::vector<double> below = own;
    for (size_t n = m_nodes.size(); n-- > 1;)
        below[static_cast<size_t>(m_nodes[n].parent)] += below[n];
    for (size_t n = 0; n < m_nodes.size(); ++n) {
        Node& node = m_nodes[n];
        node.logEnd = own[n] > 0.0 ? std::log(own[n] / below[n]) : -INFINITY;
        node.logGoesOn = below[n] > own[n] ? std::log((below[n] - own[n]) / below[n]) : -INFINITY;
        for (const Element element : {kDot, kDash}) {
            const int child = node.child[element];
            node.logNext[element] = child != kNone ? std::log(below[static_cast<size_t>(child)] / below[n]) : -INFINITY;
        }
    }
}

const MorseTrie& TheMorseTrie()
{
    static const MorseTrie trie;
    return trie;
}

}  // namespace rz::cw
