#include "listings/linklists.h"

#include <cstdio>

namespace linklists_detail {

void RaiseIndexError(int index) {
    char text[64];
    std::snprintf(text, sizeof text, "List index out of bounds (%d)", index);
    throw EListError(text);
}

void RaiseListError(const char* message) { throw EListError(message); }

// ---- the rank index: a treap whose keys are implicit (the in-order rank)

namespace {

using Node = TRankIndex::Node;

int SizeOf(const Node* t) { return t ? t->Size : 0; }

void Update(Node* t) { t->Size = 1 + SizeOf(t->Left) + SizeOf(t->Right); }

// Splits t into its first k nodes and the rest.
void Split(Node* t, int k, Node*& left, Node*& right) {
    if (!t) {
        left = right = nullptr;
        return;
    }
    if (SizeOf(t->Left) < k) {
        Split(t->Right, k - SizeOf(t->Left) - 1, t->Right, right);
        left = t;
    } else {
        Split(t->Left, k, left, t->Left);
        right = t;
    }
    Update(t);
}

// Joins two trees, every node of left coming before every node of right.
Node* Merge(Node* left, Node* right) {
    if (!left) return right;
    if (!right) return left;
    if (left->Priority > right->Priority) {
        left->Right = Merge(left->Right, right);
        Update(left);
        return left;
    }
    right->Left = Merge(left, right->Left);
    Update(right);
    return right;
}

Node* InsertNode(Node* t, int rank, Node* node) {
    if (!t) return node;
    if (node->Priority > t->Priority) {
        Split(t, rank, node->Left, node->Right);
        Update(node);
        return node;
    }
    const int ls = SizeOf(t->Left);
    if (rank <= ls) t->Left = InsertNode(t->Left, rank, node);
    else t->Right = InsertNode(t->Right, rank - ls - 1, node);
    ++t->Size;
    return t;
}

Node* EraseNode(Node* t, int rank, Node*& removed) {
    const int ls = SizeOf(t->Left);
    if (rank < ls) {
        t->Left = EraseNode(t->Left, rank, removed);
    } else if (rank > ls) {
        t->Right = EraseNode(t->Right, rank - ls - 1, removed);
    } else {
        removed = t;
        return Merge(t->Left, t->Right);
    }
    --t->Size;
    return t;
}

void FreeTree(Node* t) {
    while (t) {  // recurse on the left, loop on the right
        FreeTree(t->Left);
        Node* right = t->Right;
        delete t;
        t = right;
    }
}

void CollectNodes(Node* t, std::vector<Node*>& out) {
    while (t) {
        CollectNodes(t->Left, out);
        out.push_back(t);
        t = t->Right;
    }
}

}  // namespace

TRankIndex::~TRankIndex() { FreeTree(FRoot); }

uint32_t TRankIndex::NextPriority() {
    FSeed ^= FSeed << 13;  // xorshift32
    FSeed ^= FSeed >> 17;
    FSeed ^= FSeed << 5;
    return FSeed;
}

void TRankIndex::InsertAt(int rank, void* payload, uint64_t digest) {
    Node* node = new Node{nullptr, nullptr, payload, digest, 1, NextPriority()};
    FRoot = InsertNode(FRoot, rank, node);
}

void TRankIndex::EraseAt(int rank) {
    if (rank < 0 || rank >= Count()) return;
    Node* removed = nullptr;
    FRoot = EraseNode(FRoot, rank, removed);
    delete removed;
}

void* TRankIndex::Select(int rank) const {
    const Node* t = FRoot;
    while (t) {
        const int ls = SizeOf(t->Left);
        if (rank < ls) {
            t = t->Left;
        } else if (rank > ls) {
            rank -= ls + 1;
            t = t->Right;
        } else {
            return t->Payload;
        }
    }
    return nullptr;
}

void TRankIndex::SetDigest(int rank, uint64_t digest) {
    Node* t = FRoot;
    while (t) {
        const int ls = SizeOf(t->Left);
        if (rank < ls) {
            t = t->Left;
        } else if (rank > ls) {
            rank -= ls + 1;
            t = t->Right;
        } else {
            t->Digest = digest;
            return;
        }
    }
}

void TRankIndex::Clear() {
    FreeTree(FRoot);
    FRoot = nullptr;
}

// Reuses the nodes with their random priorities and builds the treap of the new sequence in one pass
// (the right spine kept on a stack, as for a Cartesian tree).
void TRankIndex::Rebuild(const std::vector<Entry>& entries) {
    std::vector<Node*> nodes;
    nodes.reserve(entries.size());
    CollectNodes(FRoot, nodes);
    while (nodes.size() < entries.size()) nodes.push_back(new Node{nullptr, nullptr, nullptr, 0, 1, NextPriority()});
    while (nodes.size() > entries.size()) {
        delete nodes.back();
        nodes.pop_back();
    }
    std::vector<Node*> spine;
    for (size_t i = 0; i < nodes.size(); ++i) {
        Node* node = nodes[i];
        node->Payload = entries[i].Payload;
        node->Digest = entries[i].Digest;
        node->Right = nullptr;
        Node* lastPopped = nullptr;
        while (!spine.empty() && spine.back()->Priority < node->Priority) {
            lastPopped = spine.back();
            spine.pop_back();
            Update(lastPopped);  // its subtrees are complete once it leaves the spine
        }
        node->Left = lastPopped;
        if (!spine.empty()) spine.back()->Right = node;
        spine.push_back(node);
    }
    while (spine.size() > 1) {
        Update(spine.back());
        spine.pop_back();
    }
    if (!spine.empty()) Update(spine.back());
    FRoot = spine.empty() ? nullptr : spine.front();
}

}  // namespace linklists_detail

// ---- TStringList

std::string TStringList::FirstString() {
    const std::string* s = First();
    return s ? *s : std::string();
}

std::string TStringList::NextString() { return *Next(); }

// ---- TTagStack

void TTagStack::PushTag(uint8_t tag) {
    auto cell = std::make_unique<uint8_t>(tag);
    Push(cell.get());
    cell.release();
}

uint8_t TTagStack::PopTag() {
    std::unique_ptr<uint8_t> cell(Pop());
    if (!cell) linklists_detail::RaiseIndexError(0);
    return *cell;
}

uint8_t TTagStack::PeekTag() {
    const uint8_t* cell = Peek();
    if (!cell) linklists_detail::RaiseIndexError(0);
    return *cell;
}
