#pragma once

#include <cstddef>
#include <functional>

#include "QueryOutput.h"
#include "TextBuffer.h"

namespace sorvanta {

// Formats items [0, count) in chunks on several threads and writes the
// chunks to out in item order, so a long listing uses every core and still
// comes out exactly as one thread would write it. format(begin, end, text)
// appends the text of items [begin, end); it is called from several
// threads at once. At most two chunks per thread wait for the writer, so
// the memory held stays small however long the listing is. Returns false
// when the output failed; an exception thrown by format (such as
// std::bad_alloc) is thrown again here once every thread has stopped.
using ChunkFormatter = std::function<void(std::size_t begin, std::size_t end, TextBuffer* text)>;
bool WriteChunksInOrder(std::size_t count, std::size_t chunk, unsigned threads,
                        const ChunkFormatter& format, Output& out);

}  // namespace sorvanta
