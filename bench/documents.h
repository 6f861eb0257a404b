// The bindings documents every case runs on, in the on-disk form the library writes
// (indent 4, sorted keys, no final newline), none of them patched yet.
#ifndef VEXLOR_BENCH_DOCUMENTS_H_
#define VEXLOR_BENCH_DOCUMENTS_H_

#include <string>
#include <vector>

namespace bench {

// The sizes, smallest first: the driver's 104-byte default document, a realistic file of a
// dozen action sets, and documents of many action sets of about 1 MiB and 10 MiB.
const std::vector<std::string>& DocumentSizes();

// The document of one of those sizes.
std::string MakeDocument(const std::string& size);

}  // namespace bench

#endif  // VEXLOR_BENCH_DOCUMENTS_H_
