// What attractors and curve attractors share: the module-wide table of
// named sets, and the search for the guide roots nearest to a hair's root
// with the weights that blend them. Internal to the generation directory.
#pragma once

#include <cmath>
#include <memory>
#include <new>

#include "foundation/names.h"

namespace attract_detail {

// The text of a name ("" for none).
inline const char* name_text(const hair_name* n) {
    return n && n->name ? n->name : "";
}

// ---------------------------------------------------------------------------
// A hash table of named sets: chains of Set (which has the fields next and
// name and a constructor from a name) in Buckets buckets keyed by the
// name's text. Sets are destroyed by clear() only.
template <class Set, int Buckets>
struct named_sets {
    Set* buckets[Buckets] = {};
    int count = 0;

    // A new set for name, linked as the head of an empty bucket or right
    // after the head.
    Set* add(hair_name* name) {
        Set* set = new Set(name);
        Set*& head = buckets[hash_it(Buckets, name_text(name))];
        if (!head) {
            head = set;
        } else {
            set->next = head->next;
            head->next = set;
        }
        ++count;
        return set;
    }

    // The set whose name is this very record, or null.
    Set* get(const hair_name* name) const {
        if (!name) return nullptr;
        for (Set* set = buckets[hash_it(Buckets, name_text(name))]; set; set = set->next) {
            if (set->name == name) return set;
        }
        return nullptr;
    }

    // Destroys every set; the count becomes 0.
    void clear() {
        for (Set*& head : buckets) {
            for (Set* set = head; set;) {
                Set* next = set->next;
                delete set;
                set = next;
            }
            head = nullptr;
        }
        count = 0;
    }
};

// ---------------------------------------------------------------------------
// The roots nearest to a hair's root, computed in Real precision. A root is
// a candidate when each coordinate differs from the hair's root by at most
// the radius and its squared distance is at most radius²; the first `want`
// candidates are held in the order met; after that a candidate strictly
// closer than the farthest held one takes its place, and the farthest is
// found again (ties keep the earlier entry). The arrays grow to the largest
// `want` reserved and are kept until release().
template <class Real>
class nearest_roots {
  public:
    // Makes room for n roots; false when memory runs out.
    bool reserve(int n) {
        if (n <= size_) return true;
        std::unique_ptr<int[]> indices(new (std::nothrow) int[static_cast<std::size_t>(n)]);
        std::unique_ptr<Real[]> distances(new (std::nothrow) Real[static_cast<std::size_t>(n)]);
        if (!indices || !distances) return false;
        indices_ = std::move(indices);
        distances_ = std::move(distances);
        size_ = n;
        return true;
    }
    void release() {
        indices_.reset();
        distances_.reset();
        size_ = 0;
        found_ = 0;
    }

    // Searches roots 0 ... count - 1 for up to want (at most the reserved
    // size) within radius of root; root_of(i) gives a pointer to root i
    // (with x, y, z) or null for a root to pass over. Returns how many were
    // found.
    template <class Point, class RootOf>
    int find(int count, RootOf&& root_of, const Point& root, Real radius, int want) {
        int found = 0, far = 0;
        const Real r2 = radius * radius;
        for (int i = 0; i < count; ++i) {
            const auto* p = root_of(i);
            if (!p) continue;
            const Real dx = p->x - root.x, dy = p->y - root.y, dz = p->z - root.z;
            if (std::fabs(dx) > radius || std::fabs(dy) > radius || std::fabs(dz) > radius)
                continue;
            const Real d2 = dx * dx + dy * dy + dz * dz;
            if (d2 > r2) continue;
            const Real d = std::sqrt(d2);
            if (found < want) {
                indices_[found] = i;
                distances_[found] = d;
                ++found;
            } else if (d < distances_[far]) {
                indices_[far] = i;
                distances_[far] = d;
            } else {
                continue;
            }
            // The farthest held root is the next one to give way.
            if (found == want) {
                far = 0;
                for (int k = 1; k < found; ++k) {
                    if (distances_[k] > distances_[far]) far = k;
                }
            }
        }
        found_ = found;
        sum_ = 0;
        for (int k = 0; k < found; ++k) sum_ += distances_[k];
        return found;
    }

    // The index of root k of the last search.
    int index(int k) const { return indices_[k]; }
    // Its blend weight: (S - d_k) / S + base, S the sum of the distances
    // found and base 1 for a single root, else 0; just base when |S| is at
    // most 1e-5. The weights are not normalised.
    Real weight(int k) const {
        const Real base = found_ == 1 ? Real(1) : Real(0);
        return std::fabs(sum_) <= Real(1e-5) ? base : (sum_ - distances_[k]) / sum_ + base;
    }

  private:
    std::unique_ptr<int[]> indices_;
    std::unique_ptr<Real[]> distances_;
    int size_ = 0;
    int found_ = 0;
    Real sum_ = 0;
};

}  // namespace attract_detail
