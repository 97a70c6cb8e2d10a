// The result of a three-way comparison, shared by the list container, its rank index and every
// comparison of the listings model.
#pragma once

// Result of a comparison function, which takes the key object first and the list item second.
enum TCompareResult { crLess, crEqual, crGreater };

inline TCompareResult InvertCompare(TCompareResult r) {
    return r == crLess ? crGreater : r == crGreater ? crLess : crEqual;
}
