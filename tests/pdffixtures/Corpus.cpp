#include "Corpus.h"

#include <functional>
#include <map>
#include <stdexcept>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include "Fixtures.h"

namespace pdffixtures {

namespace {

using Obj = QPDFObjectHandle;

// A document under construction: pages with a text line in Helvetica, and helpers that
// make objects from PDF text ("N G R" names objects made before, see ref()).
class Builder {
 public:
  explicit Builder(int pageCount = 1) {
    pdf.emptyPDF();
    root = pdf.getRoot();
    Obj node = root.getKey("/Pages");
    helvetica = ind("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    Obj kids = Obj::newArray();
    for (int i = 0; i < pageCount; ++i) {
      Obj page = obj("<< /Type /Page /MediaBox [0 0 612 792] >>");
      page.replaceKey("/Parent", node);
      Obj resources = Obj::newDictionary();
      Obj fonts = Obj::newDictionary();
      fonts.replaceKey("/F1", helvetica);
      resources.replaceKey("/Font", fonts);
      page.replaceKey("/Resources", resources);
      page.replaceKey("/Contents", Obj::newStream(&pdf, "BT /F1 12 Tf 72 700 Td (Page text) Tj ET\n"));
      pages.push_back(pdf.makeIndirectObject(page));
      kids.appendItem(pages.back());
    }
    node.replaceKey("/Kids", kids);
    node.replaceKey("/Count", Obj::newInteger(pageCount));
  }

  Obj obj(const std::string& text) { return Obj::parse(&pdf, text); }
  Obj ind(const std::string& text) { return pdf.makeIndirectObject(obj(text)); }
  Obj stream(const std::string& dict, const std::string& data) {
    Obj s = Obj::newStream(&pdf, data);
    Obj d = obj(dict);
    for (const std::string& key : d.getKeys()) s.getDict().replaceKey(key, d.getKey(key));
    return s;
  }
  static std::string ref(Obj o) {
    return std::to_string(o.getObjectID()) + " " + std::to_string(o.getGeneration()) + " R";
  }
  Obj page(size_t i = 0) { return pages.at(i); }
  void annot(Obj a, size_t pageIndex = 0) {
    Obj p = page(pageIndex);
    if (!p.getKey("/Annots").isArray()) p.replaceKey("/Annots", Obj::newArray());
    p.getKey("/Annots").appendItem(a);
  }
  // An entry of a page's resource category (/Font, /XObject, ...).
  void resource(const std::string& category, const std::string& name, Obj value, size_t pageIndex = 0) {
    Obj res = page(pageIndex).getKey("/Resources");
    if (!res.getKey(category).isDictionary()) res.replaceKey(category, Obj::newDictionary());
    res.getKey(category).replaceKey(name, value);
  }
  void catalog(const std::string& key, Obj value) { root.replaceKey(key, value); }
  void names(const std::string& key, Obj value) {
    if (!root.getKey("/Names").isDictionary()) root.replaceKey("/Names", Obj::newDictionary());
    root.getKey("/Names").replaceKey(key, value);
  }
  void field(Obj f) {
    if (!root.getKey("/AcroForm").isDictionary()) root.replaceKey("/AcroForm", obj("<< /Fields [] >>"));
    root.getKey("/AcroForm").getKey("/Fields").appendItem(f);
  }
  void write(const std::string& path, const std::string& version = "1.7") {
    QPDFWriter writer(pdf, path.c_str());
    writer.setObjectStreamMode(qpdf_o_disable);
    writer.setCompressStreams(false);
    writer.setDeterministicID(true);
    writer.setMinimumPDFVersion(version);
    writer.forcePDFVersion(version);
    writer.write();
  }

  QPDF pdf;
  Obj root;
  Obj helvetica;
  std::vector<Obj> pages;
};

const char kFunction[] = "<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >>";

// A file written byte for byte, for shapes qpdf would not write: objects 1 to n in
// order (object 1 is the catalog), then the cross-reference table.
void writeRaw(const std::string& path, const std::vector<std::string>& objects) {
  std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  writeFile(path, out);
}

// A raw document whose page 3 uses the resources `resources` and has the annotations `annots`.
std::vector<std::string> rawPage(const std::string& resources, const std::string& annots) {
  return {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources " + resources +
              (annots.empty() ? "" : " /Annots " + annots) + " /Contents 4 0 R >>",
          "<< /Length 0 >>\nstream\n\nendstream"};
}

using Maker = std::function<void(const std::string& path)>;

struct Entry {
  CorpusFixture fixture;
  Maker make;
};

std::vector<Entry> makeEntries() {
  std::vector<Entry> e;
  auto add = [&](const char* name, const char* what, Maker make) { e.push_back({{name, what}, std::move(make)}); };

  add("clean", "one page of text in a standard font", [](const std::string& path) { Builder().write(path); });

  add("js-open-action", "a JavaScript open action", [](const std::string& path) {
    Builder b;
    b.catalog("/OpenAction", b.ind("<< /S /JavaScript /JS (app.alert\\('open'\\);) >>"));
    b.write(path);
  });
  add("js-name-tree", "document JavaScript in a name tree with an intermediate node", [](const std::string& path) {
    Builder b;
    Obj script = b.stream("<< >>", "console.println('named');");
    Obj leaf1 = b.ind("<< /Limits [(a) (a)] /Names [(a) << /S /JavaScript /JS (one\\(\\);) >>] >>");
    Obj leaf2 = b.ind("<< /Limits [(b) (b)] /Names [(b) << /S /JavaScript /JS " + Builder::ref(script) + " >>] >>");
    Obj mid = b.ind("<< /Limits [(a) (b)] /Kids [" + Builder::ref(leaf1) + " " + Builder::ref(leaf2) + "] >>");
    b.names("/JavaScript", b.ind("<< /Kids [" + Builder::ref(mid) + "] >>"));
    b.write(path);
  });
  add("js-page-actions", "JavaScript in a page's additional actions, chained by /Next", [](const std::string& path) {
    Builder b;
    b.page().replaceKey("/AA", b.obj("<< /O << /S /JavaScript /JS (a\\(\\);) /Next [<< /S /JavaScript /JS (b\\(\\);) >>] >> "
                                     "/C << /S /JavaScript /JS (c\\(\\);) >> >>"));
    b.write(path);
  });
  add("js-annotation", "JavaScript behind a link and in a field's keystroke action", [](const std::string& path) {
    Builder b;
    b.annot(b.ind("<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /A << /S /JavaScript /JS (l\\(\\);) >> >>"));
    Obj field = b.ind("<< /FT /Tx /T (amount) /Type /Annot /Subtype /Widget /Rect [20 20 80 40] "
                      "/AA << /K << /S /JavaScript /JS (k\\(\\);) >> >> >>");
    b.annot(field);
    b.field(field);
    b.write(path);
  });

  add("form-fields", "text, check box, push button and choice fields with submit, reset and import actions",
      [](const std::string& path) {
        Builder b;
        Obj text = b.ind("<< /FT /Tx /T (name) /Type /Annot /Subtype /Widget /Rect [10 10 100 30] >>");
        Obj box = b.ind("<< /FT /Btn /T (agree) >>");
        Obj on = b.ind("<< /Type /Annot /Subtype /Widget /Rect [10 40 20 50] /AS /Off >>");
        Obj off = b.ind("<< /Type /Annot /Subtype /Widget /Rect [30 40 40 50] /AS /Off >>");
        on.replaceKey("/Parent", box);
        off.replaceKey("/Parent", box);
        box.replaceKey("/Kids", b.obj("[" + Builder::ref(on) + " " + Builder::ref(off) + "]"));
        Obj push = b.ind("<< /FT /Btn /Ff 65536 /T (send) /Type /Annot /Subtype /Widget /Rect [10 60 60 80] "
                         "/A << /S /SubmitForm /F (http://127.0.0.1/) /Next << /S /ResetForm >> >> >>");
        Obj load = b.ind("<< /FT /Btn /Ff 65536 /T (load) /Type /Annot /Subtype /Widget /Rect [70 60 120 80] "
                         "/A << /S /ImportData /F (data.fdf) >> >>");
        Obj choice = b.ind("<< /FT /Ch /T (colour) /Opt [(red) (blue)] /Type /Annot /Subtype /Widget "
                           "/Rect [10 90 100 110] >>");
        for (Obj f : {text, box, push, load, choice}) b.field(f);
        for (Obj w : {text, on, off, push, load, choice}) b.annot(w);
        b.write(path);
      });
  add("form-signature-merged", "a signature field merged with its widget", [](const std::string& path) {
    Builder b;
    Obj sig = b.ind("<< /FT /Sig /T (Signature1) /Type /Annot /Subtype /Widget /Rect [0 0 0 0] /F 132 >>");
    b.field(sig);
    b.annot(sig);
    b.write(path);
  });
  add("form-signature-widget", "a signature field with a separate widget", [](const std::string& path) {
    Builder b;
    Obj sig = b.ind("<< /FT /Sig /T (Signature1) >>");
    Obj widget = b.ind("<< /Type /Annot /Subtype /Widget /Rect [0 0 0 0] /F 132 >>");
    widget.replaceKey("/Parent", sig);
    sig.replaceKey("/Kids", b.obj("[" + Builder::ref(widget) + "]"));
    b.field(sig);
    b.annot(widget);
    b.write(path);
  });

  add("annotations-markup", "notes with a popup, shapes, stamps, ink and the text-markup kinds",
      [](const std::string& path) {
        Builder b;
        Obj note = b.ind("<< /Type /Annot /Subtype /Text /Rect [0 0 20 20] /Contents (note) >>");
        Obj popup = b.ind("<< /Type /Annot /Subtype /Popup /Rect [20 20 120 80] >>");
        popup.replaceKey("/Parent", note);
        note.replaceKey("/Popup", popup);
        b.annot(note);
        b.annot(popup);
        for (const char* subtype : {"FreeText", "Square", "Circle", "Line", "Ink", "Stamp", "Highlight",
                                    "Underline", "StrikeOut"}) {
          b.annot(b.ind(std::string("<< /Type /Annot /Subtype /") + subtype + " /Rect [30 30 60 60] >>"));
        }
        b.write(path);
      });
  add("annotations-unknown", "the six subtypes the consultant does not know, one written in lower case",
      [](const std::string& path) {
        Builder b;
        for (const char* subtype : {"Caret", "polyline", "Polygon", "3D", "Watermark", "Squiggly", "Redact"}) {
          b.annot(b.ind(std::string("<< /Type /Annot /Subtype /") + subtype + " /Rect [30 30 60 60] >>"));
        }
        b.write(path);
      });
  add("duration-carets", "a page display duration and two lower-case caret annotations",
      [](const std::string& path) {
        Builder b(2);
        b.page(0).replaceKey("/Dur", Obj::newInteger(5));
        b.annot(b.ind("<< /Type /Annot /Subtype /caret /Rect [0 0 9 9] >>"));
        b.annot(b.ind("<< /Type /Annot /Subtype /caret /Rect [10 0 19 9] >>"));
        b.write(path);
      });
  add("annotations-printer", "printer's marks and a trap network", [](const std::string& path) {
    Builder b;
    b.annot(b.ind("<< /Type /Annot /Subtype /PrinterMark /Rect [0 0 9 9] >>"));
    b.annot(b.ind("<< /Type /Annot /Subtype /TrapNet /Rect [0 0 612 792] /LastModified (D:2024) >>"));
    b.write(path);
  });

  add("links-outlines", "links of every kind, named destinations, a URI base and an outline",
      [](const std::string& path) {
        Builder b(2);
        std::string p2 = Builder::ref(b.page(1));
        b.annot(b.ind("<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /A << /S /URI /URI (http://127.0.0.1/a) >> >>"));
        b.annot(b.ind("<< /Type /Annot /Subtype /Link /Rect [0 10 9 19] /Dest [" + p2 + " /Fit] >>"));
        b.annot(b.ind("<< /Type /Annot /Subtype /Link /Rect [0 20 9 29] /A << /S /GoTo /D [" + p2 + " /Fit] >> >>"));
        b.annot(b.ind("<< /Type /Annot /Subtype /Link /Rect [0 30 9 39] "
                      "/A << /S /GoToR /F (other.pdf) /D [0 /Fit] >> >>"));
        b.annot(b.ind("<< /Type /Annot /Subtype /Link /Rect [0 40 9 49] "
                      "/A << /S /Launch /F << /Type /Filespec /F (run.exe) >> >> >>"));
        b.annot(b.ind("<< /Type /Annot /Subtype /Link /Rect [0 50 9 59] /A << /S /Thread /D 0 >> >>"));
        b.catalog("/URI", b.obj("<< /Base (http://127.0.0.1/) >>"));
        b.catalog("/Dests", b.ind("<< /first [" + p2 + " /Fit] >>"));
        b.names("/Dests", b.ind("<< /Names [(second) [" + p2 + " /XYZ null null null]] >>"));
        Obj outlines = b.ind("<< /Type /Outlines /Count 2 >>");
        Obj first = b.ind("<< /Title (One) /Dest [" + p2 + " /Fit] >>");
        Obj second = b.ind("<< /Title (Two) /A << /S /GoTo /D [" + p2 + " /Fit] >> >>");
        first.replaceKey("/Parent", outlines);
        first.replaceKey("/Next", second);
        second.replaceKey("/Parent", outlines);
        second.replaceKey("/Prev", first);
        outlines.replaceKey("/First", first);
        outlines.replaceKey("/Last", second);
        b.catalog("/Outlines", outlines);
        b.write(path);
      });
  add("files-embedded", "an embedded file with Mac parameters and an attached file", [](const std::string& path) {
    Builder b;
    Obj fork = b.stream("<< >>", "resource fork");
    Obj data = b.stream("<< /Type /EmbeddedFile /Params << /Size 5 /Mac << /Creator (ttxt) /ResFork " +
                            Builder::ref(fork) + " >> >> >>",
                        "hello");
    Obj fileSpec = b.ind("<< /Type /Filespec /F (hello.txt) /UF (hello.txt) /ID [(a) (b)] /EF << /F " +
                         Builder::ref(data) + " >> >>");
    b.names("/EmbeddedFiles", b.ind("<< /Names [(hello.txt) " + Builder::ref(fileSpec) + "] >>"));
    Obj attached = b.stream("<< /Type /EmbeddedFile >>", "attached bytes");
    b.annot(b.ind("<< /Type /Annot /Subtype /FileAttachment /Rect [0 0 9 9] /FS << /Type /Filespec "
                  "/F (note.txt) /UF (note.txt) /EF << /F " + Builder::ref(attached) + " >> >> >>"));
    b.write(path);
  });
  add("multimedia", "sound, movie and screen annotations, sound, movie and rendition actions",
      [](const std::string& path) {
        Builder b;
        Obj sound = b.stream("<< /Type /Sound /R 8000 >>", std::string(16, '\0'));
        b.annot(b.ind("<< /Type /Annot /Subtype /Sound /Rect [0 0 9 9] /Sound " + Builder::ref(sound) + " >>"));
        b.annot(b.ind("<< /Type /Annot /Subtype /Movie /Rect [0 10 9 19] /Movie << /F (m.mov) >> >>"));
        b.annot(b.ind(
            "<< /Type /Annot /Subtype /Screen /Rect [0 20 90 90] /A << /S /Rendition /OP 0 /R "
            "<< /S /SR /R [<< /S /MR /C << /S /MCD /D << /Type /Filespec /F (clip.mp4) >> /P << /TF (TEMPACCESS) >> "
            "/PL << /MU [<< /PID << >> >>] >> >> /P << /PL << /A [<< >>] /NU [<< >>] >> >> /SP << /W 3 >> "
            "/MH << /C << /A true >> >> >> << /S /MR /C << /S /MCS /D << /S /MCD >> >> >>] >> >> >>"));
        b.annot(b.ind("<< /Type /Annot /Subtype /Link /Rect [0 100 9 109] /A << /S /Sound /Sound " +
                      Builder::ref(sound) + " /Next << /S /Movie /T (m) >> >> >>"));
        b.write(path);
      });
  add("transitions", "a page transition and a slide show", [](const std::string& path) {
    Builder b;
    b.page().replaceKey("/Trans", b.obj("<< /Type /Trans /S /Wipe /D 1 >>"));
    b.names("/AlternatePresentations",
            b.ind("<< /Names [(show) << /Type /SlideShow /Subtype /Embedded /Resources << /Names [] >> "
                  "/StartResource (s) >>] >>"));
    b.write(path);
  });
  add("optional-content", "layers with usage, configurations, a membership dictionary and a state action",
      [](const std::string& path) {
        Builder b;
        Obj one = b.ind("<< /Type /OCG /Name (One) /Usage << /View << /ViewState /ON >> >> >>");
        Obj two = b.ind("<< /Type /OCG /Name (Two) >>");
        std::string both = Builder::ref(one) + " " + Builder::ref(two);
        b.catalog("/OCProperties",
                  b.obj("<< /OCGs [" + both + "] /D << /Order [" + both + "] /AS [<< /Event /View /OCGs [" +
                        Builder::ref(one) + "] /Category [/View] >>] >> /Configs [<< /Name (Alt) /OFF [" +
                        Builder::ref(two) + "] >>] >>"));
        b.resource("/Properties", "/MC0", one);
        b.resource("/Properties", "/MC1", b.obj("<< /Type /OCMD /OCGs [" + both + "] /P /AllOn >>"));
        b.annot(b.ind("<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /A << /S /SetOCGState /State [/Toggle " +
                      Builder::ref(two) + "] >> >>"));
        b.write(path);
      });
  add("postscript-functions", "PostScript XObjects, device functions, halftones, soft masks, shadings and "
      "colour spaces with functions",
      [](const std::string& path) {
        Builder b;
        Obj level1 = b.stream("<< >>", "% level 1\n");
        b.resource("/XObject", "/PS0", b.stream("<< /Type /XObject /Subtype /PS /Level1 " + Builder::ref(level1) + " >>",
                                                "% PostScript\n"));
        Obj transfer = b.stream("<< /FunctionType 4 /Domain [0 1] /Range [0 1] >>", "{ }");
        Obj group = b.stream("<< /Type /XObject /Subtype /Form /BBox [0 0 9 9] /Group << /S /Transparency >> >>", "");
        b.resource("/ExtGState", "/GS0",
                   b.obj(std::string("<< /TR ") + kFunction + " /BG2 /Default /UCR " + kFunction +
                         " /HT << /HalftoneType 1 /Frequency 60 /Angle 0 /SpotFunction " + kFunction +
                         " /TransferFunction " + Builder::ref(transfer) + " >> /SMask << /S /Luminosity /G " +
                         Builder::ref(group) + " >> >>"));
        b.resource("/ExtGState", "/GS1", b.obj("<< /TR2 /Default /HT << /HalftoneType 1 /SpotFunction /Round >> >>"));
        b.resource("/ColorSpace", "/CS0", b.obj(std::string("[/Separation /Spot /DeviceCMYK ") + kFunction + "]"));
        b.resource("/ColorSpace", "/CS1", b.obj(std::string("[/DeviceN [/A /B] /DeviceCMYK ") + kFunction + "]"));
        b.resource("/ColorSpace", "/CS2", b.obj("[/ICCBased << /N 3 >>]"));
        b.resource("/Shading", "/Sh0", b.obj(std::string("<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 1 1] "
                                                         "/Function ") + kFunction + " >>"));
        b.resource("/Shading", "/Sh1", b.stream("<< /ShadingType 5 /ColorSpace /DeviceRGB /BitsPerCoordinate 8 "
                                                "/BitsPerComponent 8 /VerticesPerRow 2 /Decode [0 1 0 1 0 1 0 1 0 1] >>",
                                                ""));
        b.resource("/Shading", "/Sh2", b.stream(std::string("<< /ShadingType 4 /ColorSpace /DeviceGray /BitsPerCoordinate 8 "
                                                            "/BitsPerComponent 8 /BitsPerFlag 8 /Function ") + kFunction +
                                                    " >>",
                                                ""));
        b.resource("/Pattern", "/P0", b.obj(std::string("<< /PatternType 2 /Shading << /ShadingType 3 /ColorSpace "
                                                        "/DeviceRGB /Coords [0 0 0 1 1 1] /Function ") + kFunction + " >> >>"));
        b.write(path);
      });
  add("structure", "a structure tree with user properties, other attributes, alternate and actual texts, and "
      "an image with an alternate",
      [](const std::string& path) {
        Builder b;
        Obj para = b.ind("<< /Type /StructElem /S /P /Alt (A paragraph) /A [<< /O /Layout /Placement /Block >> 0] /K 0 >>");
        Obj figure = b.ind("<< /Type /StructElem /S /Figure /ActualText (x) /A << /O /UserProperties /P [] >> >>");
        Obj doc = b.ind("<< /Type /StructElem /S /Document /A << /O /UserProperties /P [<< /N (k) /V (v) >>] >> /K [" +
                        Builder::ref(para) + " " + Builder::ref(figure) + "] >>");
        b.catalog("/StructTreeRoot", b.ind("<< /Type /StructTreeRoot /K [" + Builder::ref(doc) +
                                           "] /RoleMap << /Para /P >> /ClassMap << /c << /O /Layout >> >> >>"));
        b.catalog("/MarkInfo", b.obj("<< /Marked true >>"));
        Obj alternate = b.stream("<< /Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                                 "/BitsPerComponent 8 >>",
                                 std::string(1, '\x80'));
        b.resource("/XObject", "/Im0",
                   b.stream("<< /Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                            "/BitsPerComponent 8 /Alternates [<< /Image " + Builder::ref(alternate) + " >>] >>",
                            std::string(1, '\x40')));
        b.write(path);
      });
  add("additional-actions", "document and page additional actions with hide actions", [](const std::string& path) {
    Builder b;
    b.catalog("/AA", b.obj("<< /WC << /S /Hide /T (name) >> >>"));
    b.page().replaceKey("/AA", b.obj("<< /O << /S /Named /N /NextPage >> >>"));
    b.annot(b.ind("<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /A << /S /Hide /T (name) /H false >> >>"));
    b.write(path);
  });

  add("fonts-each-type", "fonts of each type, embedded and not", [](const std::string& path) {
    Builder b;
    std::string descriptor = "/Type /FontDescriptor /Flags 32 /FontBBox [0 0 1000 1000] /ItalicAngle 0 "
                             "/Ascent 800 /Descent -200 /CapHeight 700 /StemV 80";
    auto embeddedDescriptor = [&](const std::string& name, const std::string& fileKey) {
      Obj file = b.stream("<< >>", std::string(64, '\x01'));
      return b.ind("<< " + descriptor + " /FontName /" + name + " " + fileKey + " " + Builder::ref(file) + " >>");
    };
    auto plainDescriptor = [&](const std::string& name) {
      return b.ind("<< " + descriptor + " /FontName /" + name + " >>");
    };
    b.resource("/Font", "/F2", b.ind("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>"));
    b.resource("/Font", "/F3", b.ind("<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEF+Helvetica /FontDescriptor " +
                                     Builder::ref(plainDescriptor("ABCDEF+Helvetica")) + " >>"));
    b.resource("/Font", "/F4", b.ind("<< /Type /Font /Subtype /TrueType /BaseFont /Arial,Bold /FontDescriptor " +
                                     Builder::ref(plainDescriptor("Arial,Bold")) + " >>"));
    b.resource("/Font", "/F5", b.ind("<< /Type /Font /Subtype /TrueType /BaseFont /GHIJKL+Gentium /FontDescriptor " +
                                     Builder::ref(embeddedDescriptor("GHIJKL+Gentium", "/FontFile2")) + " >>"));
    b.resource("/Font", "/F6", b.ind("<< /Type /Font /Subtype /Type3 /Name /T3 /FontBBox [0 0 10 10] "
                                     "/FontMatrix [0.1 0 0 0.1 0 0] /CharProcs << >> /Encoding << /Differences [] >> "
                                     "/FirstChar 0 /LastChar 0 /Widths [0] /Resources << /Font << /G " +
                                     Builder::ref(b.helvetica) + " >> >> >>"));
    b.resource("/Font", "/F7", b.ind("<< /Type /Font /Subtype /MMType1 /BaseFont /MyriadMM_400_600_ >>"));
    Obj cidEmbedded = b.ind("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /MNOPQR+NotoSans /CIDSystemInfo "
                            "<< /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /FontDescriptor " +
                            Builder::ref(embeddedDescriptor("MNOPQR+NotoSans", "/FontFile2")) + " >>");
    b.resource("/Font", "/F8", b.ind("<< /Type /Font /Subtype /Type0 /BaseFont /MNOPQR+NotoSans /Encoding /Identity-H "
                                     "/DescendantFonts [" + Builder::ref(cidEmbedded) + "] >>"));
    Obj cidPlain = b.ind("<< /Type /Font /Subtype /CIDFontType0 /BaseFont /KozMinPro-Regular /CIDSystemInfo "
                         "<< /Registry (Adobe) /Ordering (Japan1) /Supplement 4 >> /FontDescriptor " +
                         Builder::ref(plainDescriptor("KozMinPro-Regular")) + " >>");
    b.resource("/Font", "/F9", b.ind("<< /Type /Font /Subtype /Type0 /BaseFont /KozMinPro-Regular-UniJIS-UCS2-H "
                                     "/Encoding /UniJIS-UCS2-H /DescendantFonts [" + Builder::ref(cidPlain) + "] >>"));
    b.resource("/Font", "/F10", b.ind("<< /Type /Font /Subtype /OpenType /BaseFont /Future >>"));
    b.write(path);
  });

  add("text-content", "shown text with URLs, words across operators and a text matrix, inline images and a "
      "long string, one page each",
      [](const std::string& path) {
        Builder b(5);
        const std::string contents[5] = {
            "BT /F1 12 Tf 72 700 Td (Visit http://www.example.org/ or) Tj (www.test.de now.) Tj ET\n",
            "BT /F1 12 Tf 72 700 Td (ab  c) Tj (d) Tj ET\n",
            "BT /F1 12 Tf 72 700 Td (ab) Tj 1 0 0 1 72 680 Tm (c) Tj ET\n",
            "BI /W 2 /H 1 /CS /G /BPC 8 ID \x80\x81 EI BT /F1 12 Tf 72 700 Td (x) Tj [(" + std::string(300, 'L') +
                ") -20 (y)] TJ ET\n",
            "BT /F1 12 Tf 72 700 Td (before) Tj ET BI /W 2 /H 1 ID \x80\x81",
        };
        for (size_t i = 0; i < 5; ++i) b.page(i).replaceKey("/Contents", Obj::newStream(&b.pdf, contents[i]));
        b.write(path);
      });

  add("version-1-3", "an old header version", [](const std::string& path) { Builder().write(path, "1.3"); });
  add("version-2-0", "a new header version with a catalog version", [](const std::string& path) {
    Builder b;
    b.catalog("/Version", Obj::newName("/2.0"));
    b.write(path, "2.0");
  });

  add("hostile-kids-cycle", "a page tree whose /Kids name the pages node itself", [](const std::string& path) {
    writeRaw(path, {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 2 0 R] /Count 2 >>",
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 9 9] >>"});
  });
  add("hostile-parent-loop", "a page and a pages node whose /Parent entries loop", [](const std::string& path) {
    writeRaw(path, {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 /Parent 3 0 R >>",
                    "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 9 9] /Resources << /Font << /F 4 0 R >> >> >>",
                    "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"});
  });
  add("hostile-deep-nesting", "deeply nested action chains, direct and indirect, and a long outline",
      [](const std::string& path) {
        std::string direct = "<< /S /Named /N /NextPage >>";
        for (int i = 0; i < 300; ++i) direct = "<< /S /Named /N /NextPage /Next " + direct + " >>";
        std::vector<std::string> objects = rawPage("<< >>", "[5 0 R]");
        objects.push_back("<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /A " + direct + " /AA << /U 6 0 R >> >>");
        const int chain = 2000, outline = 3000;
        for (int i = 0; i < chain; ++i) {  // objects 6 .. 6 + chain - 1
          objects.push_back("<< /S /JavaScript /JS (x) /Next " + std::to_string(i + 7) + " 0 R >>");
        }
        objects.back() = "<< /S /JavaScript /JS (x) >>";
        int first = static_cast<int>(objects.size()) + 2;  // after the outline root
        objects[0] = "<< /Type /Catalog /Pages 2 0 R /Outlines " + std::to_string(objects.size() + 1) + " 0 R >>";
        objects.push_back("<< /Type /Outlines /First " + std::to_string(first) + " 0 R >>");
        for (int i = 0; i < outline; ++i) {
          std::string next = i + 1 < outline ? " /Next " + std::to_string(first + i + 1) + " 0 R" : "";
          objects.push_back("<< /Title (e) /A << /S /URI /URI (http://127.0.0.1/) >>" + next + " >>");
        }
        writeRaw(path, objects);
      });
  add("hostile-outline-cycle", "outline entries whose /Next and /First entries loop", [](const std::string& path) {
    std::vector<std::string> objects = rawPage("<< >>", "");
    objects[0] = "<< /Type /Catalog /Pages 2 0 R /Outlines 5 0 R >>";
    objects.push_back("<< /Type /Outlines /First 6 0 R >>");
    objects.push_back("<< /Title (a) /Next 7 0 R /First 7 0 R /A << /S /GoTo /D [3 0 R /Fit] >> >>");
    objects.push_back("<< /Title (b) /Next 6 0 R /First 6 0 R >>");
    writeRaw(path, objects);
  });
  add("hostile-name-tree-cycle", "a JavaScript name tree whose kids include its own node", [](const std::string& path) {
    std::vector<std::string> objects = rawPage("<< >>", "");
    objects[0] = "<< /Type /Catalog /Pages 2 0 R /Names << /JavaScript 5 0 R >> >>";
    objects.push_back("<< /Kids [6 0 R] >>");
    objects.push_back("<< /Kids [6 0 R 7 0 R] >>");
    objects.push_back("<< /Names [(a) << /S /JavaScript /JS (x) >>] >>");
    writeRaw(path, objects);
  });
  add("hostile-type0-self", "a Type0 font that is its own descendant", [](const std::string& path) {
    std::vector<std::string> objects = rawPage("<< /Font << /F 5 0 R >> >>", "");
    objects.push_back("<< /Type /Font /Subtype /Type0 /BaseFont /Loop /Encoding /Identity-H /DescendantFonts [5 0 R] >>");
    writeRaw(path, objects);
  });
  add("hostile-type0-cycle", "two Type0 fonts that are each other's descendant", [](const std::string& path) {
    std::vector<std::string> objects = rawPage("<< /Font << /A 5 0 R /B 6 0 R >> >>", "");
    objects.push_back("<< /Type /Font /Subtype /Type0 /BaseFont /A /Encoding /Identity-H /DescendantFonts [6 0 R] >>");
    objects.push_back("<< /Type /Font /Subtype /Type0 /BaseFont /B /Encoding /Identity-H /DescendantFonts [5 0 R] >>");
    writeRaw(path, objects);
  });
  add("hostile-font-damaged", "a font dictionary whose /Subtype is a string", [](const std::string& path) {
    std::vector<std::string> objects = rawPage("<< /Font << /F 5 0 R >> >>", "");
    objects.push_back("<< /Type /Font /Subtype (Type1) /BaseFont /Helvetica >>");
    writeRaw(path, objects);
  });
  add("hostile-owner-string", "a structure attribute whose /O is a string", [](const std::string& path) {
    std::vector<std::string> objects = rawPage("<< >>", "");
    objects[0] = "<< /Type /Catalog /Pages 2 0 R /StructTreeRoot 5 0 R >>";
    objects.push_back("<< /Type /StructTreeRoot /K 6 0 R >>");
    objects.push_back("<< /Type /StructElem /S /P /A << /O (UserProperties) >> >>");
    writeRaw(path, objects);
  });
  add("hostile-annotation-entries", "an /Annots array with a string, a null and a dictionary",
      [](const std::string& path) {
        writeRaw(path, rawPage("<< >>", "[(text) null << /Type /Annot /Subtype /Text /Rect [0 0 9 9] >>]"));
      });
  return e;
}

const std::vector<Entry>& entries() {
  static const std::vector<Entry> all = makeEntries();
  return all;
}

}  // namespace

const std::vector<CorpusFixture>& corpus() {
  static const std::vector<CorpusFixture> list = [] {
    std::vector<CorpusFixture> l;
    for (const Entry& e : entries()) l.push_back(e.fixture);
    return l;
  }();
  return list;
}

void writeCorpusFixture(const std::string& name, const std::string& path) {
  for (const Entry& e : entries()) {
    if (e.fixture.name == name) {
      e.make(path);
      return;
    }
  }
  throw std::runtime_error("pdffixtures: no corpus fixture " + name);
}

void writeLargeDocument(int pages, const std::string& path) {
  Builder b(pages);
  Obj image = b.stream("<< /Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray "
                       "/BitsPerComponent 8 >>",
                       std::string(4, '\x7f'));
  Obj shading = b.ind(std::string("<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 1 1] /Function ") +
                      kFunction + " >>");
  for (int i = 0; i < pages; ++i) {
    size_t p = static_cast<size_t>(i);
    std::string n = std::to_string(i);
    b.resource("/Font", "/F2", b.ind("<< /Type /Font /Subtype /TrueType /BaseFont /Face" + n + " >>"), p);
    b.resource("/XObject", "/Im0", image, p);
    b.resource("/Shading", "/Sh0", shading, p);
    b.page(p).replaceKey("/Contents", Obj::newStream(&b.pdf, "BT /F1 12 Tf 72 700 Td (Page " + n +
                                                                 ") Tj /F2 10 Tf 0 -20 Td (more) Tj ET "
                                                                 "q 10 0 0 10 72 600 cm /Im0 Do Q /Sh0 sh\n"));
    b.annot(b.ind("<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /A << /S /URI /URI (http://127.0.0.1/" + n +
                  ") >> >>"),
            p);
    Obj note = b.ind("<< /Type /Annot /Subtype /Text /Rect [10 0 19 9] /Contents (note " + n + ") >>");
    Obj popup = b.ind("<< /Type /Annot /Subtype /Popup /Rect [20 0 99 50] >>");
    popup.replaceKey("/Parent", note);
    note.replaceKey("/Popup", popup);
    b.annot(note, p);
    b.annot(popup, p);
    Obj field = b.ind("<< /FT /Tx /T (f" + n + ") /Type /Annot /Subtype /Widget /Rect [100 0 200 20] >>");
    b.annot(field, p);
    b.field(field);
  }
  b.write(path);
}

}  // namespace pdffixtures
