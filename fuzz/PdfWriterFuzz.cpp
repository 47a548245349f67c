// The part writer. Input: a PDF file, read as qpdf reads any source (repairing what it can).
// Whatever the writer writes must read back, without repair, as the same objects.
#include "engine/ObjGenHash.h"
#include "engine/PdfWriter.h"
#include "fuzz/FuzzInput.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using QOH = QPDFObjectHandle;

// Objects beyond these are left out of the comparison: a fuzzed file may hold millions.
constexpr size_t kMaxObjects = 2000;
constexpr size_t kMaxText = 1 << 20;

// The object graph below the catalog as text, references spelled by the order in which they
// are first met: two files describe the same document exactly when their texts agree.
class Canonical {
  public:
    std::string Of(QPDF& pdf) {
        Reference(pdf.getRoot());
        for (size_t i = 0; i < m_queue.size() && i < kMaxObjects && m_text.size() < kMaxText; ++i) {
            m_text += "\n#" + std::to_string(i) + ": ";
            QOH object = m_queue[i];
            if (object.isStream()) {
                // The writer compresses streams stored without a filter: a stream reads the
                // same when its data, decoded, is the same.
                QOH dict = object.getDict();
                QOH filter = dict.getKey("/Filter");
                std::shared_ptr<Buffer> data;
                if ((filter.isNull() || filter.isNameAndEquals("/FlateDecode") ||
                     (filter.isArray() && filter.getArrayNItems() == 0)) &&
                    dict.getKey("/DecodeParms").isNull()) {
                    try {
                        data = object.getStreamData(qpdf_dl_generalized);
                    } catch (const std::exception&) {
                    }
                }
                Dictionary(dict, 0, true, data != nullptr);
                m_text += data ? " decoded " : " stream ";
                if (!data)
                    data = object.getRawStreamData();
                m_text.append(reinterpret_cast<const char*>(data->getBuffer()),
                              std::min<size_t>(data->getSize(), 256));
                m_text += " size " + std::to_string(data->getSize());
            } else {
                Direct(object, 0);
            }
        }
        return m_text;
    }

  private:
    void Reference(QOH object) {
        const auto [it, added] = m_ids.try_emplace(object.getObjGen(), m_queue.size());
        if (added)
            m_queue.push_back(object);
        m_text += "#" + std::to_string(it->second);
    }
    void Value(QOH value, int depth) {
        if (value.isIndirect() && !value.isNull())
            Reference(value);
        else
            Direct(value, depth);
    }
    void Direct(QOH value, int depth) {
        if (depth > 400)
            return;
        if (value.isArray()) {
            m_text += "[";
            for (QOH& item : value.getArrayAsVector()) {
                Value(item, depth + 1);
                m_text += " ";
            }
            m_text += "]";
        } else if (value.isDictionary()) {
            Dictionary(value, depth, false);
        } else {
            m_text += value.isNull() ? "null" : value.unparseResolved();
        }
    }
    void Dictionary(QOH dict, int depth, bool stream, bool decoded = false) {
        m_text += "<<";
        for (auto& [key, item] : dict.getDictAsMap()) {
            if ((stream && key == "/Length") || (decoded && key == "/Filter") || item.isNull())
                continue;
            m_text += QOH::newName(key).unparse() + " ";
            Value(item, depth + 1);
            m_text += " ";
        }
        m_text += ">>";
    }

    engine::ObjGenMap<size_t> m_ids;
    std::vector<QOH> m_queue;
    std::string m_text;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QPDF source;
    source.setSuppressWarnings(true);
    std::string before;
    try {
        source.processMemoryFile("source", reinterpret_cast<const char*>(data), size);
        before = Canonical().Of(source);
    } catch (const std::exception&) {
        return 0; // no document, or one qpdf cannot walk: nothing to write
    }

    std::string written;
    try {
        // Half the inputs are written with object streams, as parts are.
        engine::WriteClassicPdf(
            source, "1.7", [&](std::string_view bytes) { written.append(bytes); }, size % 2 == 1);
    } catch (const std::exception&) {
        return 0; // refused: qpdf's writer gets the document instead
    }
    // A size proposal counts parts instead of writing them: the count is the size written.
    if (engine::CountClassicPdf(source, "1.7", size % 2 == 1) != written.size())
        __builtin_trap();

    QPDF reread;
    reread.setSuppressWarnings(true);
    reread.setAttemptRecovery(false);
    try {
        reread.processMemoryFile("written", written.data(), written.size());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        fuzzing::Fail("the written file does not read back");
    }
    std::string after;
    try {
        after = Canonical().Of(reread);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        fuzzing::Fail("the written file cannot be walked");
    }
    if (after != before) {
        size_t at = 0;
        while (at < before.size() && at < after.size() && before[at] == after[at])
            ++at;
        const size_t from = at < 200 ? 0 : at - 200;
        const std::string read = before.substr(from, 400), back = after.substr(from, 400);
        std::fprintf(stderr, "read:\n");
        std::fwrite(read.data(), 1, read.size(), stderr);
        std::fprintf(stderr, "\nwritten:\n");
        std::fwrite(back.data(), 1, back.size(), stderr);
        std::fprintf(stderr, "\n");
        fuzzing::Fail("the written file reads back as other objects");
    }
    return 0;
}
