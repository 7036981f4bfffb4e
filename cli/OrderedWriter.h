#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "QueryOutput.h"
#include "TextBuffer.h"

namespace sorvanta {

// Formats items in chunks on several threads and writes the chunks to out
// in item order, so a long listing uses every core and still comes out
// exactly as one thread would write it. Chunk c holds items [ends[c - 1],
// ends[c]) (from 0 for the first). format(begin, end, text) appends the
// text of items [begin, end); it is called from several threads at once.
// At most two chunks per thread wait for the writer, so the memory held
// stays small however long the listing is, as long as each chunk's text
// is. Returns false when the output failed; an exception thrown by format
// (such as std::bad_alloc) is thrown again here once every thread has
// stopped.
using ChunkFormatter = std::function<void(std::size_t begin, std::size_t end, TextBuffer* text)>;
bool WriteChunksInOrder(const std::vector<std::size_t>& ends, unsigned threads, const ChunkFormatter& format,
                        Output& out);

}  // namespace sorvanta
