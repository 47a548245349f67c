#pragma once

#include "engine/QpdfValues.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QPDF;

namespace engine {

// Writes a document built in memory as one PDF file with a classic cross-reference table:
// every object reachable from the trailer, numbered from 1 in the order it is reached, stream
// data as it is stored (no filter is taken off; a stream stored without any is compressed),
// and a file identifier derived from the bytes, so the same document always gives the same
// file. qpdf's own writer does much more
// (object streams, recompression, encryption, linearization); a part needs none of it, and
// writing it this way costs a fraction.
//
// `version` goes into the header. Bytes go to `sink` in blocks as they are made. Throws
// std::exception on anything it does not write (an object of a kind that belongs in no file,
// stream data that cannot be read, nesting too deep); what was written by then is to be
// thrown away.
//
// With `objectStreams`, objects other than streams are packed into compressed object streams
// and the cross-reference table is a compressed stream as well (PDF 1.5 on; the caller names
// a version that allows it).
//
// `grafts` maps pages of `pdf` to the source pages they stand for: such a page is written
// with its own entries plus every entry of its source page but /Parent, and what those
// entries reach is written straight from the source's document. A source object that is a
// page tree node, or a page grafted into no page of this part, is written as null, so that
// a part never drags in pages it does not hold.
//
// `texts` keeps, per source document, how its objects met more than once were written, as
// text between their references: the fonts and resources that every part of a source carries
// are then written without being taken apart again. A source's objects must not change while
// its texts are kept (pages and page tree nodes, which change, are never kept).
struct ForeignTexts {
    struct Text {
        std::string bytes;
        std::vector<std::pair<size_t, QPDFObjectHandle>> refs; // (where in bytes, to what)
    };
    ObjGenMap<Text> kept;
    ObjGenSet metOnce;
    size_t size = 0;
    // Streams as a count (see CountClassicPdf) met them: the dictionary, and the bytes after it.
    struct Stream {
        Text dictionary;
        size_t rest = 0;
    };
    ObjGenMap<Stream> streams;
};
struct Grafts {
    ObjGenMap<QPDFObjectHandle> pages;
    std::vector<std::pair<QPDF*, ForeignTexts*>> texts; // every source the pages come from
    bool empty() const { return pages.empty(); }
};
//
// With `end`, a packed part's object streams and cross-reference stream are left in it to be
// written by FinishPart after the bytes written now: compressing them is about a fifth of a
// single-page part's writing, which a caller with a thread to spare does there. `end` stays
// empty when the part was written whole.
struct PartEnd;
void WriteClassicPdf(QPDF& pdf, const std::string& version,
                     const std::function<void(std::string_view)>& sink, bool objectStreams = false,
                     const Grafts* grafts = nullptr, std::shared_ptr<PartEnd>* end = nullptr);
void FinishPart(PartEnd& end, const std::function<void(std::string_view)>& sink);
// How many bytes WriteClassicPdf writes for the same document, counted: what goes out as
// stored is not copied, and the identifier (always 32 hexadecimal digits) is not computed.
// Object streams and streams stored without a filter are compressed all the same, as their
// size is known no other way. Throws where WriteClassicPdf would.
size_t CountClassicPdf(QPDF& pdf, const std::string& version, bool objectStreams = false,
                       const Grafts* grafts = nullptr);

// The higher of two PDF versions, compared as numbers ("2.0" above "1.7"); an empty or
// malformed one counts as lowest.
std::string HigherPdfVersion(const std::string& a, const std::string& b);

} // namespace engine
