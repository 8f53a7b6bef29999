// The Morse alphabet as a tree that the sequence decoder walks: each node is a
// pattern of dots and dashes, its children the patterns one element longer,
// and a node that spells a character can end it. Each step carries the prior
// log-probability of taking it, from how often the characters below it are
// sent, so that in noise the decoder leans towards what operators send often.
#ifndef CW_MORSE_TRIE_H
#define CW_MORSE_TRIE_H

#include <array>
#include <string_view>
#include <vector>

namespace rz::cw {

enum Element { kDot = 0, kDash = 1 };

class MorseTrie {
public:
    static constexpr int kRoot = 0;
    static constexpr int kNone = -1;

    struct Node {
        std::array<int, 2> child{kNone, kNone};
        int parent = kNone;
        Element element = kDot;           // the element that leads here from the parent
        std::string_view text;            // the character this pattern spells, or ""
        std::array<double, 2> logNext{};  // log P(next element is a dot, a dash | here)
        double logEnd = 0.0;              // log P(the character ends here | here)
        double logGoesOn = 0.0;           // log P(another element follows | here)
    };

    MorseTrie();

    const std::vector<Node>& Nodes() const { return m_nodes; }
    const Node& At(int node) const { return m_nodes[static_cast<size_t>(node)]; }

private:
    std::vector<Node> m_nodes;
};

// The one tree, built at first use.
const MorseTrie& TheMorseTrie();

}  // namespace rz::cw

#endif
