// Index Shell sort: orders real keys through an index array, leaving the keys in place.
#pragma once

#include <cstdint>

namespace sorter {

// Fills ipoint(1..n) (ipoint[0..n-1] here, values counted from 1) so that key(ipoint(1)),
// key(ipoint(2)), ... ascend, or descend when incdec < 0. Shell sort with the increments
// 1, 4, 13, 40, ...; an entry moves past entries with an equal key, so equal keys do not keep
// their input order. ipoint(1) is set to 1 even when n <= 1 (ipoint needs room for one value).
void shlsrt(const float* key, std::int32_t n, std::int32_t* ipoint, std::int32_t incdec);

}  // namespace sorter
