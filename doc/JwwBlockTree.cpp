// The block tree: one node per block instance that the drawing reaches, built
// breadth first from the drawing's block inserts through the inserts nested in
// definitions, each node with the map from its definition's coordinates to the
// drawing's. It decides which definitions are saved and their new numbers.
//
// Hostile drawings: a definition may insert itself, directly or through
// others, and nesting multiplies. An insert that would re-enter a definition
// already on its own path gets no children, and the tree's size is bounded by
// kMaxBlockTreeNodes. Without such cycles the size is counted before the tree
// is built, so an oversized drawing fails before anything is allocated.
#include <algorithm>
#include <cmath>

#include "doc/JwwObjects.h"
#include "support/Memory.h"

namespace morvane {

namespace {

// Steps of the ancestor walks that cut cycles; hostile nesting that needs more
// fails the load instead of running for minutes.
constexpr uint64_t kMaxCycleWalkSteps = 8 * static_cast<uint64_t>(kMaxBlockTreeNodes);

size_t DefinitionCount(const TJwwData& d) {
    return std::min(d.EntBlockDef.size(), static_cast<size_t>(std::max(d.EntBlockDefN, 0)));
}

size_t NestedInsertCount(const TEntJwwBlockDef& d) {
    return std::min(d.mBlock.size(), static_cast<size_t>(std::max(d.mBlockN, 0)));
}

// The first definition, in definition order, with each block number.
class DefinitionIndex {
public:
    explicit DefinitionIndex(const TJwwData& d) {
        const size_t n = DefinitionCount(d);
        for (size_t i = 0; i < n; ++i) byNumber_.Add(d.EntBlockDef[i].nNumber, static_cast<uint32_t>(i));
        byNumber_.Seal();
    }
    int32_t Find(uint32_t number) const {
        const uint32_t* i = byNumber_.Find(number);
        return i ? static_cast<int32_t>(*i) : -1;
    }

private:
    jwwobj::FirstByNumber byNumber_;
};

// The strongly connected components of the definitions reached from the
// drawing (an edge per nested insert). For a drawing without cycles it also
// counts the nodes below one instance of every definition, saturating above
// the tree bound.
class NestingGraph {
public:
    NestingGraph(const std::vector<TEntJwwBlockDef>& defs, size_t defCount, const DefinitionIndex& index)
        : defs_(defs), index_(index), order_(defCount, -1), low_(defCount, 0), onStack_(defCount, 0),
          comp_(defCount, -1), selfLoop_(defCount, 0), below_(defCount, 0) {}

    void VisitFrom(int32_t root) {
        if (root >= 0 && order_[root] < 0) Visit(root);
    }
    bool HasCycle() const { return hasCycle_; }
    int32_t Component(int32_t def) const { return comp_[def]; }
    bool Cyclic(int32_t def) const { return cyclicComp_[comp_[def]] != 0; }
    uint64_t NodesBelow(int32_t def) const { return def < 0 ? 0 : below_[def]; }

private:
    struct Frame {
        int32_t def;
        size_t next;  // next nested insert to follow
    };

    void Open(int32_t v, std::vector<Frame>& frames) {
        order_[v] = low_[v] = counter_++;
        onStack_[v] = 1;
        stack_.push_back(v);
        frames.push_back({v, 0});
    }

    // Tarjan's algorithm without recursion (nesting may be thousands deep).
    void Visit(int32_t root) {
        std::vector<Frame> frames;
        Open(root, frames);
        while (!frames.empty()) {
            const int32_t v = frames.back().def;
            const TEntJwwBlockDef& def = defs_[v];
            if (frames.back().next < NestedInsertCount(def)) {
                const int32_t w = index_.Find(def.mBlock[frames.back().next++].nNumber);
                if (w < 0) continue;
                if (w == v) selfLoop_[v] = 1;
                if (order_[w] < 0)
                    Open(w, frames);
                else if (onStack_[w])
                    low_[v] = std::min(low_[v], order_[w]);
                continue;
            }
            frames.pop_back();
            if (!frames.empty()) low_[frames.back().def] = std::min(low_[frames.back().def], low_[v]);
            if (low_[v] == order_[v]) CloseComponent(v);
        }
    }

    // Every component reachable from v is closed before v's own.
    void CloseComponent(int32_t v) {
        const int32_t c = static_cast<int32_t>(cyclicComp_.size());
        size_t members = 0;
        int32_t w;
        do {
            w = stack_.back();
            stack_.pop_back();
            onStack_[w] = 0;
            comp_[w] = c;
            ++members;
        } while (w != v);
        const bool cyclic = members > 1 || selfLoop_[v];
        cyclicComp_.push_back(cyclic ? 1 : 0);
        if (cyclic) {
            hasCycle_ = true;
            return;
        }
        const TEntJwwBlockDef& def = defs_[v];
        uint64_t n = 0;
        for (size_t i = 0; i < NestedInsertCount(def) && n <= kLimit; ++i)
            n += 1 + NodesBelow(index_.Find(def.mBlock[i].nNumber));
        below_[v] = std::min(n, kLimit + 1);
    }

    static constexpr uint64_t kLimit = static_cast<uint64_t>(kMaxBlockTreeNodes);

    const std::vector<TEntJwwBlockDef>& defs_;
    const DefinitionIndex& index_;
    std::vector<int32_t> order_, low_;
    std::vector<uint8_t> onStack_;
    std::vector<int32_t> comp_;
    std::vector<uint8_t> selfLoop_;
    std::vector<uint64_t> below_;
    std::vector<uint8_t> cyclicComp_;
    std::vector<int32_t> stack_;
    int32_t counter_ = 0;
    bool hasCycle_ = false;
};

// The linear part of a block insert: rotation by radKaitenKaku after scaling
// by dBairitsuX, dBairitsuY.
struct Matrix {
    double m11, m12, m21, m22;
    static Matrix Of(const TEntJwwBlock& b) {
        const double c = std::cos(b.radKaitenKaku), s = std::sin(b.radKaitenKaku);
        const double sx = b.dBairitsuX, sy = b.dBairitsuY;
        return {c * sx, -s * sy, s * sx, c * sy};
    }
};

[[noreturn]] void FailTree(const std::string& detail) { throw JwwIoError(kFileIoError, 0, detail); }

// Builds the tree in two passes: first its shape (parent and definition of
// every node, 9 bytes a node) with the bound and the cycle cuts, then the
// nodes themselves into an array allocated once.
class TreeBuilder {
public:
    explicit TreeBuilder(TJwwData& doc)
        : doc_(doc), defs_(doc.EntBlockDef), index_(doc),
          graph_(doc.EntBlockDef, DefinitionCount(doc), index_),
          inserts_(std::min(doc.EntBlock.size(), static_cast<size_t>(std::max(doc.EntBlockN, 0)))) {}

    std::vector<TEntJwwBlockTree> Build() {
        if (inserts_ > kLimit) Overflow();
        for (size_t j = 0; j < inserts_; ++j) graph_.VisitFrom(index_.Find(doc_.EntBlock[j].nNumber));
        if (!graph_.HasCycle()) {
            // Without cycles the size is known before anything is built.
            uint64_t total = 0;
            for (size_t j = 0; j < inserts_ && total <= kLimit; ++j)
                total += 1 + graph_.NodesBelow(index_.Find(doc_.EntBlock[j].nNumber));
            if (total > kLimit) Overflow();
            parent_.reserve(total);
            defno_.reserve(total);
        }
        BuildShape();
        CheckNameBytes();
        return Materialize();
    }

private:
    static constexpr uint64_t kLimit = static_cast<uint64_t>(kMaxBlockTreeNodes);

    [[noreturn]] static void Overflow() {
        FailTree("block nesting expands to more than " + std::to_string(kMaxBlockTreeNodes) + " instances");
    }

    void AddShape(int32_t parent, int32_t defno, bool cut) {
        parent_.push_back(parent);
        defno_.push_back(defno);
        if (graph_.HasCycle()) cut_.push_back(cut ? 1 : 0);
    }

    // Breadth first: the nodes appended while walking are walked too, so the
    // children of one node stand together, in the order of its mBlock.
    void BuildShape() {
        for (size_t j = 0; j < inserts_; ++j) AddShape(-1, index_.Find(doc_.EntBlock[j].nNumber), false);
        for (size_t k = 0; k < defno_.size(); ++k) {
            if (defno_[k] < 0 || (graph_.HasCycle() && cut_[k])) continue;
            const TEntJwwBlockDef& def = defs_[defno_[k]];
            const size_t count = NestedInsertCount(def);
            if (defno_.size() + count > kLimit) Overflow();
            for (size_t c = 0; c < count; ++c) {
                const int32_t d = index_.Find(def.mBlock[c].nNumber);
                AddShape(static_cast<int32_t>(k), d, graph_.HasCycle() && ReentersPath(k, d));
            }
        }
    }

    // Whether definition d stands on the path from the top down to node k.
    // Such a path can only pass through d's own component, so the walk stops
    // at the first ancestor outside it.
    bool ReentersPath(size_t k, int32_t d) {
        if (d < 0 || !graph_.Cyclic(d)) return false;
        const int32_t comp = graph_.Component(d);
        for (int32_t m = static_cast<int32_t>(k); m >= 0; m = parent_[m]) {
            const int32_t md = defno_[m];
            if (graph_.Component(md) != comp) return false;
            if (md == d) return true;
            if (++walkSteps_ > kMaxCycleWalkSteps)
                FailTree("block nesting through self-inserting definitions is too deep to follow");
        }
        return false;
    }

    // The names the nodes will hold beyond their own record (a short name
    // lives inside the string), counted before any is copied.
    void CheckNameBytes() const {
        const size_t kInline = std::u16string().capacity();
        uint64_t bytes = 0;
        for (const int32_t d : defno_) {
            if (d < 0) continue;
            const size_t length = defs_[d].strName.size();
            if (length > kInline) bytes += (length + 1) * sizeof(char16_t);
            if (bytes > kMaxBlockTreeNameBytes)
                FailTree("block names repeated in the tree would take more than " +
                         std::to_string(kMaxBlockTreeNameBytes >> 20) + " MB");
        }
    }

    std::vector<TEntJwwBlockTree> Materialize() {
        std::vector<TEntJwwBlockTree> tree;
        ReserveLarge(tree, defno_.size());
        int32_t lastParent = -1;
        size_t c = 0;  // which nested insert of the parent's definition
        for (size_t k = 0; k < defno_.size(); ++k) {
            TEntJwwBlockTree n;
            const int32_t p = parent_[k];
            if (p < 0) {
                n = TopNode(doc_.EntBlock[k]);
            } else {
                c = p == lastParent ? c + 1 : 0;
                lastParent = p;
                n = NestedNode(tree[p], p, defs_[defno_[p]], c, InsertMatrix(defno_[p], c));
            }
            n.defno = defno_[k];
            if (n.defno >= 0) {
                n.name = defs_[n.defno].strName;
                defs_[n.defno].ref_flag = true;
            }
            tree.push_back(std::move(n));
        }
        return tree;
    }

    static TEntJwwBlockTree TopNode(const TEntJwwBlock& b) {
        TEntJwwBlockTree n;
        n.att = b.att;
        n.level = 0;
        n.parent = -1;
        n.no = b.nNumber;
        n.x = b.DPKijunTen_x;
        n.y = b.DPKijunTen_y;
        const Matrix m = Matrix::Of(b);
        n.r1 = m.m11;
        n.r2 = m.m12;
        n.r3 = m.m21;
        n.r4 = m.m22;
        return n;
    }

    // Insert c of the definition of node p, placed through p's map.
    static TEntJwwBlockTree NestedNode(const TEntJwwBlockTree& p, int32_t parent, const TEntJwwBlockDef& def,
                                       size_t c, const Matrix& m) {
        const TEntJwwBlock& b = def.mBlock[c];
        TEntJwwBlockTree n;
        n.att = def.att;
        n.level = p.level + 1;
        n.parent = parent;
        n.no = b.nNumber;
        n.x = p.x + p.r1 * b.DPKijunTen_x + p.r2 * b.DPKijunTen_y;
        n.y = p.y + p.r3 * b.DPKijunTen_x + p.r4 * b.DPKijunTen_y;
        n.r1 = p.r1 * m.m11 + p.r2 * m.m21;
        n.r2 = p.r1 * m.m12 + p.r2 * m.m22;
        n.r3 = p.r3 * m.m11 + p.r4 * m.m21;
        n.r4 = p.r3 * m.m12 + p.r4 * m.m22;
        return n;
    }

    // The matrix of insert c of definition d, worked out once per insert
    // however many times the definition is placed.
    const Matrix& InsertMatrix(int32_t d, size_t c) {
        if (matrices_.empty()) matrices_.resize(defs_.size());
        std::vector<Matrix>& m = matrices_[static_cast<size_t>(d)];
        if (m.empty()) {
            const TEntJwwBlockDef& def = defs_[static_cast<size_t>(d)];
            m.reserve(def.mBlock.size());
            for (const TEntJwwBlock& b : def.mBlock) m.push_back(Matrix::Of(b));
        }
        return m[c];
    }

    TJwwData& doc_;
    std::vector<TEntJwwBlockDef>& defs_;
    std::vector<std::vector<Matrix>> matrices_;
    DefinitionIndex index_;
    NestingGraph graph_;
    size_t inserts_;
    // The shape: per node its parent and definition index, and with cycles
    // whether it is cut (gets no children).
    std::vector<int32_t> parent_;
    std::vector<int32_t> defno_;
    std::vector<uint8_t> cut_;
    uint64_t walkSteps_ = 0;
};

}  // namespace

void TJwwData::MakeBlockTree() {
    std::vector<TEntJwwBlockTree>().swap(EntBlockTree);
    EntBlockTreeN = 0;
    const size_t defs = DefinitionCount(*this);
    for (size_t i = 0; i < defs; ++i) {
        EntBlockDef[i].ref_flag = false;
        EntBlockDef[i].ref_no = -1;
    }
    if (EntBlockN <= 0 || EntBlock.empty()) return;

    try {
        EntBlockTree = TreeBuilder(*this).Build();
    } catch (...) {
        // Leave no half-built tree and no definition marked as reached.
        for (size_t i = 0; i < defs; ++i) EntBlockDef[i].ref_flag = false;
        EntBlockNum = 0;
        throw;
    }
    EntBlockTreeN = static_cast<int32_t>(EntBlockTree.size());

    int32_t next = 0;
    for (size_t i = 0; i < defs; ++i)
        if (EntBlockDef[i].ref_flag) EntBlockDef[i].ref_no = next++;
    EntBlockNum = next;
}

// A block number as saved: the new number of the first definition with it
// when that one is reached, the number itself when it is not (its inserts are
// not saved). A number that no definition has is saved as the number after the
// last saved definition, so that the insert stays without a definition instead
// of turning into an instance of definition 0.
uint32_t TJwwData::ChangeBlockNo(uint32_t n) const {
    const size_t defs = DefinitionCount(*this);
    uint32_t reached = 0;
    for (size_t i = 0; i < defs; ++i) {
        const TEntJwwBlockDef& d = EntBlockDef[i];
        if (d.nNumber == n) return d.ref_flag ? static_cast<uint32_t>(d.ref_no) : n;
        if (d.ref_flag) ++reached;
    }
    return reached;
}

namespace jwwobj {

void FirstByNumber::Seal() {
    // Stable: among equal numbers the first added comes first and is kept.
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.number < b.number; });
    entries_.erase(std::unique(entries_.begin(), entries_.end(),
                               [](const Entry& a, const Entry& b) { return a.number == b.number; }),
                   entries_.end());
    // Numbers no larger than twice their count (plus a little): a table by
    // number costs no more than the entries themselves.
    dense_.clear();
    if (!entries_.empty() && entries_.back().number <= 2 * uint64_t{entries_.size()} + 64) {
        dense_.assign(size_t{entries_.back().number} + 1, 0);
        for (size_t i = 0; i < entries_.size(); ++i) dense_[entries_[i].number] = static_cast<uint32_t>(i + 1);
    }
}

const uint32_t* FirstByNumber::Find(uint32_t number) const {
    if (!dense_.empty()) {
        const uint32_t at = number < dense_.size() ? dense_[number] : 0;
        return at ? &entries_[at - 1].value : nullptr;
    }
    auto it = std::lower_bound(entries_.begin(), entries_.end(), number,
                               [](const Entry& e, uint32_t n) { return e.number < n; });
    return it != entries_.end() && it->number == number ? &it->value : nullptr;
}

BlockNumberMap::BlockNumberMap(const TJwwData& doc) {
    const size_t defs = DefinitionCount(doc);
    for (size_t i = 0; i < defs; ++i) {
        const TEntJwwBlockDef& d = doc.EntBlockDef[i];
        saved_.Add(d.nNumber, d.ref_flag ? static_cast<uint32_t>(d.ref_no) : d.nNumber);
        if (d.ref_flag) ++unknown_;
    }
    saved_.Seal();
}

}  // namespace jwwobj

}  // namespace morvane
