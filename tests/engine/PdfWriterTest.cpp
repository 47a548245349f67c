#include "engine/PdfWriter.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

using engine::WriteClassicPdf;
using QOH = QPDFObjectHandle;

namespace {

std::string Written(QPDF& pdf, const std::string& version = "1.3") {
    std::string bytes;
    WriteClassicPdf(pdf, version, [&](std::string_view block) { bytes.append(block); });
    return bytes;
}

// Parses the bytes as qpdf does when it opens a file; qpdf then reports what it had to repair.
std::unique_ptr<QPDF> Reread(const std::string& bytes) {
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->setAttemptRecovery(false); // a broken cross-reference table must fail, not be rebuilt
    auto* copy = new Buffer(bytes.size()); // the input source owns it
    std::memcpy(copy->getBuffer(), bytes.data(), bytes.size());
    pdf->processInputSource(std::make_shared<BufferInputSource>("written", copy, true));
    return pdf;
}

} // namespace

// Values the writer spells itself (names, numbers) and ones it leaves to qpdf (strings) come
// back as they went in, through a parse that refuses a damaged table.
TEST(PdfWriterTest, ValuesComeBackAsTheyWentIn) {
    const struct {
        const char* key;
        const char* value;
    } cases[] = {
        {"/Space#20In#20Key", "/A#20B"},
        {"/Hash#23Key", "/x#23y"},
        {"/Delimiters", "/a#28#29#3c#3e#5b#5d#7b#7d#2f#25b"},
        {"/HighBytes", "/caf#e9"},
        {"/BinaryString", "<00ff10>"},
        {"/Escapes", "(a\\(b\\)c\\\\d\\r\\n)"},
        {"/TextString", "<feff00e90020>"},
        {"/EmptyString", "()"},
        {"/Real", "-0.5"},
        {"/BigInteger", "9007199254740993"},
        {"/Negative", "-42"},
        {"/Nested", "[[[1]] << /A [true false] /B << /C /D >> >> []]"},
        {"/EmptyDict", "<< >>"},
    };
    QPDF pdf;
    pdf.emptyPDF();
    QOH root = pdf.getRoot();
    for (const auto& c : cases)
        root.replaceKey(QOH::parse(c.key).getName(), QOH::parse(c.value));
    auto reread = Reread(Written(pdf));
    QOH back = reread->getRoot();
    for (const auto& c : cases) {
        const std::string key = QOH::parse(c.key).getName();
        EXPECT_EQ(back.getKey(key).unparse(), QOH::parse(c.value).unparse()) << c.key;
    }
    EXPECT_TRUE(reread->getWarnings().empty());
}

// References: shared objects are written once, cycles end, a missing object becomes null,
// and a stream whose length is held by reference keeps all its bytes.
TEST(PdfWriterTest, ReferencesAndStreamsStayWhole) {
    QPDF pdf;
    pdf.emptyPDF();
    QOH root = pdf.getRoot();
    QOH shared = pdf.makeIndirectObject(QOH::parse("<< /Shared true >>"));
    QOH loop = pdf.makeIndirectObject(QOH::newDictionary());
    loop.replaceKey("/Self", loop);
    const std::string data("stream data with\nendstream inside\0and a zero", 43);
    QOH stream = pdf.newStream(data);
    QOH length = pdf.makeIndirectObject(QOH::newInteger(1)); // a wrong, indirect length
    stream.getDict().replaceKey("/Length", length);
    root.replaceKey("/A", shared);
    root.replaceKey("/B", QOH::newArray({shared, shared}));
    root.replaceKey("/Loop", loop);
    root.replaceKey("/Stream", stream);
    root.replaceKey("/Missing", QOH::newArray({pdf.getObjectByID(9999, 0)}));
    root.replaceKey("/HeldString", pdf.makeIndirectObject(QOH::newString("held (apart)")));

    const std::string bytes = Written(pdf);
    auto reread = Reread(bytes);
    QOH back = reread->getRoot();
    EXPECT_EQ(back.getKey("/A").getObjGen(), back.getKey("/B").getArrayItem(0).getObjGen());
    EXPECT_EQ(back.getKey("/Loop").getKey("/Self").getObjGen(), back.getKey("/Loop").getObjGen());
    EXPECT_EQ(back.getKey("/Missing").unparse(), "[ null ]");
    EXPECT_EQ(back.getKey("/HeldString").getStringValue(), "held (apart)");
    auto read = back.getKey("/Stream").getStreamData();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(read->getBuffer()), read->getSize()), data);
    EXPECT_TRUE(reread->getWarnings().empty());
    // catalog, pages, /A, /Loop, /Stream, /HeldString: the length object is not carried over
    EXPECT_EQ(reread->getObjectCount(), 6u);
}

// The file identifier follows the bytes: the same document writes the same file, a different
// one a different identifier; the header carries the version asked for.
TEST(PdfWriterTest, IdentifierFollowsTheContentsAndHeaderTheVersion) {
    auto make = [](const char* text) {
        auto pdf = std::make_unique<QPDF>();
        pdf->emptyPDF();
        pdf->getRoot().replaceKey("/Text", QOH::newString(text));
        return pdf;
    };
    auto id = [](const std::string& bytes) {
        return Reread(bytes)->getTrailer().getKey("/ID").getArrayItem(0).getStringValue();
    };
    auto a = make("one");
    const std::string first = Written(*a, "1.7");
    EXPECT_EQ(first, Written(*a, "1.7"));
    EXPECT_EQ(first.substr(0, 9), "%PDF-1.7\n");
    EXPECT_EQ(id(first).size(), 16u);
    EXPECT_NE(id(first), id(Written(*make("two"), "1.7")));
    EXPECT_NE(id(first), id(Written(*make("onf"), "1.7")));
}

// Counting comes to the bytes written, classic or packed: streams stored filtered and plain,
// more than one block of output, and more objects than one object stream holds.
TEST(PdfWriterTest, CountIsTheSizeWritten) {
    QPDF pdf;
    pdf.emptyPDF();
    QOH items = QOH::newArray();
    for (int i = 0; i < 250; ++i)
        items.appendItem(
            pdf.makeIndirectObject(QOH::parse("<< /Item " + std::to_string(i) + " >>")));
    std::string plain;
    for (int i = 0; plain.size() < 100000; ++i)
        plain += "BT /F1 12 Tf 72 " + std::to_string(i % 700) + " Td (line) Tj ET\n";
    QOH filtered = pdf.newStream(std::string(70000, 'x'));
    filtered.getDict().replaceKey("/Filter", QOH::newName("/FlateDecode")); // stored as it is
    items.appendItem(pdf.newStream(plain));
    items.appendItem(filtered);
    pdf.getRoot().replaceKey("/Items", items);
    for (bool packed : {false, true}) {
        std::string bytes;
        WriteClassicPdf(
            pdf, "1.5", [&](std::string_view block) { bytes.append(block); }, packed);
        EXPECT_GT(bytes.size(), 64u * 1024); // more than a block
        EXPECT_EQ(engine::CountClassicPdf(pdf, "1.5", packed), bytes.size()) << packed;
    }
}

TEST(PdfWriterTest, HigherVersionComparesNumbers) {
    const struct {
        const char *a, *b, *higher;
    } cases[] = {{"1.3", "1.7", "1.7"}, {"1.7", "1.3", "1.7"}, {"1.9", "1.10", "1.10"},
                 {"2.0", "1.7", "2.0"}, {"", "1.4", "1.4"},    {"1.5", "junk", "1.5"}};
    for (const auto& c : cases)
        EXPECT_EQ(engine::HigherPdfVersion(c.a, c.b), c.higher) << c.a << " " << c.b;
}
