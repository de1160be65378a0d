// The GIF picture: file structure, colour tables, the image-level operations
// and the extension blocks, with files of other writers compared frame by
// frame with giflib.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "gif_image.h"
#include "gif_peer.h"
#include "platform_clipboard.h"
#include "raster_core.h"
#include "test_startup.h"

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Cat(std::initializer_list<TBytes> Parts) {
  TBytes out;
  for (const TBytes& p : Parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TBytes Str(const std::string& S) { return TBytes(S.begin(), S.end()); }

// Header with a 2-entry global table (black, white) for a W x H screen.
TBytes Header(int W = 2, int H = 2, const std::string& Version = "GIF89a") {
  return Cat({Str(Version), {static_cast<uint8_t>(W), 0, static_cast<uint8_t>(H), 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255}});
}

// A 2x2 frame of colour 1 (clear, 1, 6 = "1 1", 6 = "1 1"? no: 1, 6, 1, end).
TBytes Frame2x2() {
  // Codes (3 bits): clear 4, 1, 6 ("1 1"), 1, end 5 -> 4 pixels of 1.
  // 100 001 110 001 101 -> bits LSB first.
  uint32_t acc = 4 | 1 << 3 | 6 << 6 | 1 << 9 | 5 << 12;
  return {0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2, 2, static_cast<uint8_t>(acc), static_cast<uint8_t>(acc >> 8), 0};
}

struct TLoaded {
  std::unique_ptr<TGIFImage> Gif;
  std::vector<std::string> Warnings;
  std::string Error;
};

std::unique_ptr<TLoaded> Load(const TBytes& Bytes) {
  auto l = std::make_unique<TLoaded>();
  l->Gif = std::make_unique<TGIFImage>();
  TLoaded* raw = l.get();
  l->Gif->OnWarning = [raw](const void*, int32_t, const std::string& M) { raw->Warnings.push_back(M); };
  TReadOnlyMemoryStream s(Bytes.data(), Bytes.size());
  try {
    l->Gif->LoadFromStream(s);
  } catch (const GIFException& e) {
    l->Error = e.what();
  }
  return l;
}

TBytes Save(TGIFImage& G) {
  TMemoryStream m;
  G.SaveToStream(m);
  return m.Bytes();
}

TBytes SaveExtension(TGIFExtension& E) {
  TMemoryStream m;
  E.SaveToStream(m);
  return m.Bytes();
}

std::string ErrorOf(const std::function<void()>& Fn) {
  try {
    Fn();
  } catch (const GIFException& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(GifFile, StructureRules) {
  VemraTestStartup();
  const TBytes good = Cat({Header(), Frame2x2(), {0x3B}});
  struct TCase {
    const char* Name;
    TBytes Bytes;
    std::string Error;
    std::vector<std::string> Warnings;
    int Frames;
  };
  const std::vector<TCase> cases = {
      {"plain", good, "", {}, 1},
      {"four bytes before the signature", Cat({{1, 2, 3, 4}, good}), "", {}, 1},
      {"three bytes before", Cat({{1, 2, 3}, good}), "Invalid GIF signature", {}, 0},
      {"five bytes before", Cat({{1, 2, 3, 4, 5}, good}), "Invalid GIF signature", {}, 0},
      {"lower-case signature", Cat({Header(2, 2, "gif89a"), Frame2x2(), {0x3B}}), "", {}, 1},
      {"short header", Str("GIF8"), "Premature end of data", {}, 0},
      {"zero bytes between blocks", Cat({Header(), {0, 0}, Frame2x2(), {0, 0, 0}, Frame2x2(), {0, 0x3B}}), "", {}, 2},
      {"no trailer", Cat({Header(), Frame2x2()}), "", {}, 1},
      {"bad trailer", Cat({Header(), Frame2x2(), {0x3C}}), "", {"Unknown GIF block type", "Invalid Image trailer"}, 1},
      {"unknown block keeps earlier frames", Cat({Header(), Frame2x2(), {0x99}, Frame2x2(), {0x3B}}), "",
       {"Unknown GIF block type", "Invalid Image trailer"}, 1},
      {"stray byte after an extension ends loading",
       Cat({Header(), Frame2x2(), {0x21, 0xFE, 1, 'a', 0, 0x99, 0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}}), "",
       {"Invalid extension introducer", "Unknown GIF block type", "Invalid Image trailer"}, 2},
      {"frame larger than any bitmap", Cat({Header(), {0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 0, 0x3B}}),
       "Invalid image dimensions", {}, 0},
      {"frame of more than 4 million pixels without its data",
       Cat({Header(), {0x2C, 0, 0, 0, 0, 0x00, 0x10, 0x00, 0x10, 0, 2, 0, 0x3B}}), "Invalid GIF data", {}, 0},
      {"truncated global table", TBytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x87, 0, 0, 1, 2, 3},
       "Premature end of data", {}, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto l = Load(c.Bytes);
    EXPECT_EQ(l->Error, c.Error);
    EXPECT_EQ(l->Warnings, c.Warnings);
    EXPECT_EQ(l->Gif->Images().Count(), c.Frames);
  }
  // Global tables: 2 entries take 6 bytes, size field 7 takes 768.
  auto l = Load(good);
  EXPECT_EQ(l->Gif->GlobalColorMap().Count(), 2);
  TBytes big = {'G', 'I', 'F', '8', '7', 'a', 1, 0, 1, 0, 0x87, 0, 0};
  big.resize(13 + 768, 7);
  big.push_back(0x3B);
  l = Load(big);
  EXPECT_EQ(l->Error, "");
  EXPECT_EQ(l->Gif->GlobalColorMap().Count(), 256);
  // An image without frames has no version to save.
  TGIFImage empty;
  EXPECT_EQ(ErrorOf([&] { Save(empty); }), "Unsupported GIF version");
}

TEST(GifFile, FailedLoadPutsTheStreamBack) {
  const TBytes bad = Cat({{9, 9}, Str("XXXXXXXXXXXX")});
  TReadOnlyMemoryStream s(bad.data(), bad.size());
  s.SetPosition(2);
  TGIFImage g;
  std::vector<std::pair<TProgressStage, int>> progress;
  g.OnProgress = [&](const TGIFImage&, TProgressStage St, uint8_t P, const std::string& M) {
    EXPECT_EQ(M, "Loading...");
    progress.push_back({St, P});
  };
  EXPECT_THROW(g.LoadFromStream(s), GIFException);
  EXPECT_EQ(s.Position(), 2);
  EXPECT_EQ(progress, (std::vector<std::pair<TProgressStage, int>>{{TProgressStage::psStarting, 0},
                                                                    {TProgressStage::psEnding, 0}}));
}

TEST(GifFile, HeaderPackedByteFollowsTheTables) {
  // A global table of 3 colours beside a local one of 200: the size field
  // describes the global table (2 bits -> field 1), the colour resolution the
  // largest table (8 bits -> 7), and giflib reads the file back whole.
  TGIFImage g;
  for (int i = 0; i < 3; ++i) g.GlobalColorMap().Add({static_cast<uint8_t>(i * 50), 1, 2});
  auto f = std::make_unique<TGIFSubImage>(&g);
  for (int i = 0; i < 200; ++i) f->ColorMap().Add({static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 9});
  f->SetBounds(0, 0, 20, 10);
  for (size_t i = 0; i < f->DataSize(); ++i) f->Data()[i] = static_cast<uint8_t>(i % 200);
  g.Add(std::move(f));
  const TBytes bytes = Save(g);
  EXPECT_EQ(bytes[10], 0x80 | 0x70 | 1);
  const TPeerGif peer = GiflibSlurp(bytes);
  ASSERT_TRUE(peer.Ok) << peer.Error;
  EXPECT_EQ(peer.GlobalMap.size(), 4u * 3);
  ASSERT_EQ(peer.Frames.size(), 1u);
  EXPECT_EQ(peer.Frames[0].LocalMap.size(), 256u * 3);
  EXPECT_EQ(peer.Frames[0].Pixels[199], 199);
  // Without a global table the size bits come from the largest local table.
  TGIFImage h;
  auto f2 = std::make_unique<TGIFSubImage>(&h);
  for (int i = 0; i < 5; ++i) f2->ColorMap().Add({static_cast<uint8_t>(i), 0, 0});
  f2->SetBounds(0, 0, 1, 1);
  h.Add(std::move(f2));
  EXPECT_EQ(Save(h)[10], 0x20 | 2);
}

TEST(GifColorMap, TableOperations) {
  TGIFImage g;
  std::vector<std::string> warnings;
  g.OnWarning = [&](const void*, int32_t, const std::string& M) { warnings.push_back(M); };
  TGIFColorMap& m = g.GlobalColorMap();
  EXPECT_EQ(ErrorOf([&] { m.Color(0); }), "Color table is empty");
  EXPECT_EQ(m.BitsPerPixel(), 0);
  struct TStep {
    int Count, Bits, Capacity;
  };
  const std::vector<TStep> steps = {{1, 1, 16}, {2, 1, 16}, {3, 2, 16}, {5, 3, 16}, {16, 4, 16},
                                    {17, 5, 32}, {33, 6, 64}, {129, 8, 160}, {256, 8, 256}};
  int n = 0;
  for (const TStep& s : steps) {
    while (n < s.Count) m.Add({static_cast<uint8_t>(n), static_cast<uint8_t>(n), 0}), ++n;
    EXPECT_EQ(m.BitsPerPixel(), s.Bits) << s.Count;
    EXPECT_EQ(m.Capacity(), s.Capacity) << s.Count;
  }
  EXPECT_EQ(ErrorOf([&] { m.Add({1, 2, 3}); }), "Color table overflow");
  EXPECT_EQ(ErrorOf([&] { m.Delete(256); }), "Invalid color index");
  m.Delete(0);
  EXPECT_EQ(m.Color(0), (TGIFColor{1, 1, 0}));
  EXPECT_EQ(m.Color(300), (TGIFColor{1, 1, 0}));
  EXPECT_EQ(warnings, std::vector<std::string>{"Invalid color index"});
  // Duplicates: an unsorted table is searched from the end, a sorted one
  // from the start; AddUnique finds the existing entry.
  m.Clear();
  m.Add({7, 7, 7});
  m.Add({1, 1, 1});
  m.Add({7, 7, 7});
  EXPECT_EQ(m.IndexOf({7, 7, 7}), 2);
  EXPECT_EQ(m.AddUnique({1, 1, 1}), 1);
  m.SetOptimized(true);
  EXPECT_EQ(m.IndexOf({7, 7, 7}), 0);
  EXPECT_EQ(m.IndexOf({7, 7, 8}), -1);
}

TEST(GifColorMap, FrequencySortRemapsPixelsAndTransparency) {
  TGIFImage g;
  auto f = std::make_unique<TGIFSubImage>(&g);
  TGIFSubImage* frame = f.get();
  for (int i = 0; i < 6; ++i) f->ColorMap().Add({static_cast<uint8_t>(10 * i), 0, static_cast<uint8_t>(i)});
  f->SetBounds(0, 0, 10, 1);
  const TBytes px = {3, 3, 3, 3, 1, 1, 1, 4, 4, 3};  // entries 0, 2 and 5 unused
  std::copy(px.begin(), px.end(), f->Data());
  auto gce = std::make_unique<TGIFGraphicControlExtension>(frame);
  gce->SetTransparent(true);
  gce->SetTransparentColorIndex(4);
  f->Extensions().Add(std::move(gce));
  g.Add(std::move(f));
  std::vector<TGIFColor> before;
  for (uint8_t p : px) before.push_back(frame->ColorMap().Color(p));
  int changes = 0;
  g.OnChange = [&](const TGIFImage&) { ++changes; };
  frame->ColorMap().Optimize();
  EXPECT_TRUE(frame->ColorMap().Optimized());
  EXPECT_EQ(frame->ColorMap().Count(), 3);
  for (size_t i = 0; i < px.size(); ++i) EXPECT_EQ(frame->ColorMap().Color(frame->Data()[i]), before[i]) << i;
  EXPECT_EQ(frame->Data()[0], 0);  // the most frequent colour comes first
  EXPECT_EQ(frame->ColorMap().Color(frame->GraphicControlExtension()->TransparentColorIndex()), (TGIFColor{40, 0, 4}));
  EXPECT_GE(changes, 1);
  // Sorted already: nothing moves and nothing is signalled.
  changes = 0;
  frame->ColorMap().Optimize();
  EXPECT_EQ(changes, 0);
  // The global table does nothing without frames.
  TGIFImage e;
  e.GlobalColorMap().Add({1, 1, 1});
  e.GlobalColorMap().Add({2, 2, 2});
  e.GlobalColorMap().Optimize();
  EXPECT_EQ(e.GlobalColorMap().Count(), 2);
}

TEST(GifImage, SizeVersionAndCopies) {
  TGIFImage g;
  std::vector<std::string> warnings;
  g.OnWarning = [&](const void*, int32_t, const std::string& M) { warnings.push_back(M); };
  g.GlobalColorMap().Add({0, 0, 0});
  g.GlobalColorMap().Add({255, 0, 0});
  auto f = std::make_unique<TGIFSubImage>(&g);
  f->SetBounds(0, 0, 8, 6);  // grows the empty screen silently
  TGIFSubImage* frame = f.get();
  g.Add(std::move(f));
  EXPECT_EQ(g.Width(), 8);
  EXPECT_TRUE(warnings.empty());
  frame->SetLeft(4);  // now reaches past the screen
  EXPECT_EQ(g.Width(), 12);
  EXPECT_EQ(warnings, (std::vector<std::string>{"Image width too small for contained frames",
                                                 "Image exceeds Logical Screen size"}));
  EXPECT_EQ(ErrorOf([&] { g.SetWidth(11); }), "Image width too small for contained frames");
  EXPECT_EQ(ErrorOf([&] { g.SetHeight(5); }), "Image height too small for contained frames");
  g.SetWidth(20);
  EXPECT_EQ(g.Width(), 20);
  EXPECT_EQ(ErrorOf([&] { frame->Pixels(8, 0); }), "Invalid pixel coordinates");
  frame->SetPixels(7, 5, 1);
  EXPECT_EQ(g.Version(), TGIFVersion::gv87a);
  // The composite: the frame at its offset on palette entry 0.
  const TPlatformBitmap* b = g.Bitmap();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Width(), 20);
  EXPECT_EQ(b->ScanLine(5)[11], 0xFFFF0000u);
  EXPECT_EQ(b->ScanLine(5)[12], 0xFF000000u);
  EXPECT_EQ(b->ScanLine(0)[0], 0xFF000000u);
  // Comments make the file 89a; a copy keeps frames and extensions.
  auto c = std::make_unique<TGIFCommentExtension>(frame);
  c->Text = {"hello"};
  frame->Extensions().Add(std::move(c));
  EXPECT_EQ(g.Version(), TGIFVersion::gv89a);
  std::vector<int> percents;
  g.OnProgress = [&](const TGIFImage&, TProgressStage, uint8_t P, const std::string& M) {
    if (M == "Copying...") percents.push_back(P);
  };
  TGIFImage copy;
  copy.Assign(&g);
  EXPECT_EQ(percents, (std::vector<int>{0, 100, 100}));
  EXPECT_FALSE(copy.OnProgress);
  EXPECT_EQ(Save(copy), Save(g));
}

TEST(GifImage, ClipboardCarriesPictureAndStream) {
  TGIFImage g;
  g.GlobalColorMap().Add({0, 0, 0});
  g.GlobalColorMap().Add({0, 0, 255});
  auto f = std::make_unique<TGIFSubImage>(&g);
  f->SetBounds(0, 0, 3, 2);
  f->Data()[4] = 1;
  g.Add(std::move(f));
  TMemoryClipboard board;
  g.SaveToClipboardFormat(board);
  ASSERT_TRUE(board.HasFormat("GIF Image"));
  ASSERT_TRUE(board.HasPicture());
  EXPECT_EQ(board.GetPicture()->ScanLine(1)[1], 0xFF0000FFu);
  EXPECT_EQ(board.GetData("GIF Image"), Save(g));
  TGIFImage back;
  back.LoadFromClipboardFormat(board, kGIFClipboardFormat);
  EXPECT_EQ(Save(back), Save(g));
  TGIFImage fromBitmap;
  fromBitmap.LoadFromClipboardFormat(board, kBitmapClipboardFormat);
  EXPECT_EQ(fromBitmap.Images().Item(0)->ColorMap().Color(fromBitmap.Images().Item(0)->Pixels(1, 1)),
            (TGIFColor{0, 0, 255}));
  EXPECT_EQ(ErrorOf([&] { back.LoadFromClipboardFormat(board, "PNG"); }), "Unsupported clipboard format");
  TMemoryClipboard blank;
  EXPECT_EQ(ErrorOf([&] { back.LoadFromClipboardFormat(blank, kGIFClipboardFormat); }),
            "Unsupported clipboard format");
  // An empty image puts nothing there.
  TGIFImage none;
  none.SaveToClipboardFormat(blank);
  EXPECT_FALSE(blank.HasFormat("GIF Image"));
}

TEST(GifExtensions, ByteLayouts) {
  TGIFImage g;
  TGIFSubImage frame(&g);
  TGIFGraphicControlExtension gce(&frame);
  gce.SetDisposal(2);
  gce.SetDelay(0x1234);
  gce.SetTransparent(true);
  gce.SetTransparentColorIndex(7);
  EXPECT_EQ(SaveExtension(gce), (TBytes{0x21, 0xF9, 0x04, 0x09, 0x34, 0x12, 0x07, 0x00}));
  EXPECT_TRUE(frame.Transparent());
  EXPECT_EQ(frame.GraphicControlExtension(), &gce);

  TGIFAppExtNSLoop loop(&frame);
  loop.Loops = 0x0203;
  const TBytes loopBytes = SaveExtension(loop);
  EXPECT_EQ(loopBytes, Cat({{0x21, 0xFF, 11}, Str("NETSCAPE2.0"), {3, 1, 3, 2, 0}}));
  EXPECT_EQ(loopBytes.size(), 19u);
  loop.BufferSize = 0x01020304;
  EXPECT_EQ(SaveExtension(loop), Cat({{0x21, 0xFF, 11}, Str("NETSCAPE2.0"), {3, 1, 3, 2, 5, 2, 4, 3, 2, 1, 0}}));

  TGIFCommentExtension comment(&frame);
  comment.Text = {std::string(300, 'x'), "", "ok"};
  const TBytes c = SaveExtension(comment);
  ASSERT_EQ(c.size(), 2u + 1 + 255 + 1 + 45 + 1 + 2 + 1);
  EXPECT_EQ(c[2], 255);
  EXPECT_EQ(c[258], 45);
  EXPECT_EQ(c[304], 2);
  TReadOnlyMemoryStream s(c.data(), c.size());
  TGIFCommentExtension back(&frame);
  back.LoadFromStream(s);
  EXPECT_EQ(back.Text, (std::vector<std::string>{std::string(255, 'x'), std::string(45, 'x'), "ok"}));

  TGIFTextExtension text(&frame);
  text.Left = 0x0102;
  text.GridWidth = 40;
  text.CharWidth = 8;
  text.ForegroundColorIndex = 1;
  text.Text = {"Hi"};
  EXPECT_EQ(SaveExtension(text), (TBytes{0x21, 0x01, 12, 2, 1, 0, 0, 40, 0, 0, 0, 8, 0, 1, 0, 2, 'H', 'i', 0}));
}

TEST(GifExtensions, LoadingRules) {
  VemraTestStartup();
  const TBytes gce = {0x21, 0xF9, 4, 1, 10, 0, 1, 0};
  const TBytes gce2 = {0x21, 0xF9, 4, 0, 20, 0, 0, 0};
  struct TCase {
    const char* Name;
    TBytes Ext;
    std::string Error;
    std::vector<std::string> Warnings;
    std::string Class;  // of the first extension
  };
  const std::vector<TCase> cases = {
      {"graphic control", gce, "", {}, "gce"},
      {"loop", Cat({{0x21, 0xFF, 11}, Str("NETSCAPE2.0"), {3, 1, 5, 0, 0}}), "", {}, "loop"},
      {"animexts loop", Cat({{0x21, 0xFF, 11}, Str("ANIMEXTS1.0"), {3, 1, 5, 0, 0}}), "", {}, "loop"},
      {"identifier is case-sensitive", Cat({{0x21, 0xFF, 11}, Str("netscape2.0"), {3, 1, 5, 0, 0}}), "", {},
       "unknown"},
      {"application block size 10", Cat({{0x21, 0xFF, 10}, Str("ABCDEFGHIJ"), {2, 7, 7, 0}}), "", {}, "unknown"},
      {"application block size 9", Cat({{0x21, 0xFF, 9}, Str("ABCDEFGHI"), {0}}),
       "Unsupported Application Extension block size", {}, ""},
      {"application block size 12", Cat({{0x21, 0xFF, 12}, Str("ABCDEFGHIJKL"), {0}}),
       "Unsupported Application Extension block size", {}, ""},
      {"loop sub-block too short", Cat({{0x21, 0xFF, 11}, Str("NETSCAPE2.0"), {2, 1, 5, 0}}), "Invalid GIF data", {},
       ""},
      {"buffer sub-block too short", Cat({{0x21, 0xFF, 11}, Str("NETSCAPE2.0"), {3, 2, 5, 0, 0}}),
       "Invalid GIF data", {}, ""},
      {"unknown label", {0x21, 0x33, 0}, "Unknown extension type", {}, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto l = Load(Cat({Header(), c.Ext, Frame2x2(), {0x3B}}));
    EXPECT_EQ(l->Error, c.Error);
    EXPECT_EQ(l->Warnings, c.Warnings);
    if (!c.Error.empty()) continue;
    ASSERT_EQ(l->Gif->Images().Count(), 1);
    const TGIFExtension* e = l->Gif->Images().Item(0)->Extensions().Item(0);
    if (c.Class == "gce") {
      EXPECT_NE(dynamic_cast<const TGIFGraphicControlExtension*>(e), nullptr);
    } else if (c.Class == "loop") {
      const auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(e);
      ASSERT_NE(loop, nullptr);
      EXPECT_EQ(loop->Loops, 5);
    } else {
      EXPECT_NE(dynamic_cast<const TGIFUnknownAppExtension*>(e), nullptr);
    }
    // Written back, giflib reads the same pixels.
    const TPeerGif peer = GiflibSlurp(Save(*l->Gif));
    ASSERT_TRUE(peer.Ok);
    EXPECT_EQ(peer.Frames[0].Pixels, (TBytes{1, 1, 1, 1}));
  }
  auto cut = Load(Cat({Header(), {0x21, 0x01, 12, 0, 0}}));
  EXPECT_EQ(cut->Error, "Premature end of data");
  // Two graphic control blocks: the first governs, both are written back.
  auto l = Load(Cat({Header(), gce, gce2, Frame2x2(), {0x3B}}));
  TGIFSubImage* f = l->Gif->Images().Item(0);
  EXPECT_EQ(f->Extensions().Count(), 2);
  EXPECT_EQ(f->GraphicControlExtension()->Delay(), 10);
  EXPECT_TRUE(f->Transparent());
  EXPECT_EQ(Save(*l->Gif), Cat({Header(), gce, gce2, Frame2x2(), {0x3B}}));
  // A graphic control block cut by the end of the file: a warning, and the
  // frame is not transparent.
  l = Load(Cat({Header(), {0x21, 0xF9, 4, 1}}));
  EXPECT_EQ(l->Error, "");
  EXPECT_EQ(l->Warnings, std::vector<std::string>{"Premature end of data"});
  ASSERT_EQ(l->Gif->Images().Count(), 1);
  EXPECT_FALSE(l->Gif->Images().Item(0)->Transparent());
  // An index beyond the frame's table is refused with a warning.
  std::vector<std::string> w;
  l->Gif->OnWarning = [&](const void*, int32_t, const std::string& M) { w.push_back(M); };
  l->Gif->Images().Item(0)->GraphicControlExtension()->SetTransparentColorIndex(2);
  EXPECT_EQ(l->Gif->Images().Item(0)->GraphicControlExtension()->TransparentColorIndex(), 0);
  EXPECT_EQ(w, std::vector<std::string>{"Invalid color index"});
  // The transparent index fills what the data does not reach.
  l = Load(Cat({Header(), {0x21, 0xF9, 4, 1, 0, 0, 1, 0}, {0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2, 0}, {0x3B}}));
  EXPECT_EQ(l->Gif->Images().Item(0)->Pixels(1, 1), 1);
  // A 10-byte application block is written back as it came, so it keeps its
  // class and data when read again.
  const TBytes app10 = Cat({{0x21, 0xFF, 10}, Str("NETSCAPE2."), {0x30}, TBytes(0x30, 1), {0}});
  l = Load(Cat({Header(), app10, Frame2x2(), {0x3B}}));
  EXPECT_EQ(Save(*l->Gif), Cat({Header(), app10, Frame2x2(), {0x3B}}));
  // Unknown application data is kept block for block.
  const TBytes unknown = Cat({{0x21, 0xFF, 11}, Str("XMP DataXMP"), {2, 'a', 'b', 1, 'c', 0}});
  l = Load(Cat({Header(), unknown, Frame2x2(), {0x3B}}));
  EXPECT_EQ(Save(*l->Gif), Cat({Header(), unknown, Frame2x2(), {0x3B}}));
}

TEST(GifPeers, FilesOfOtherWritersMatchGiflibFrameByFrame) {
  VemraTestStartup();
  const auto dir = std::filesystem::temp_directory_path() / ("gif_peers_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string d = dir.string();
  // Pillow: animation with loop, transparency, disposal and a comment; an
  // interlaced frame; gifsicle: optimised frames with offsets; ImageMagick:
  // a gradient and an interlaced picture.
  const std::string py =
      "/usr/bin/python3 -c \"\nfrom PIL import Image\nimport random\nrandom.seed(3)\nims=[]\n"
      "for k in range(4):\n"
      "  im=Image.new('P',(61,37)); im.putpalette([random.randrange(256) for _ in range(768)])\n"
      "  im.putdata([(x*(k+1)//7 + random.randrange(3)) % 256 for x in range(61*37)]); ims.append(im)\n"
      "ims[0].save('" + d + "/pil_anim.gif', save_all=True, append_images=ims[1:], loop=3, duration=[40,50,60,70],"
      " transparency=5, disposal=2, comment=b'made here')\n"
      "ims[1].save('" + d + "/pil_inter.gif', interlace=True)\n\"";
  ASSERT_EQ(std::system(py.c_str()), 0);
  ASSERT_EQ(std::system(("gifsicle -O3 --colors 16 '" + d + "/pil_anim.gif' -o '" + d + "/sicle.gif' 2>/dev/null").c_str()), 0);
  ASSERT_EQ(std::system(("gifsicle --interlace '" + d + "/pil_anim.gif' -o '" + d + "/sicle_inter.gif'").c_str()), 0);
  ASSERT_EQ(std::system(("/usr/bin/convert -size 97x41 gradient:red-blue -colors 50 '" + d + "/magick.gif'").c_str()), 0);
  ASSERT_EQ(std::system(("/usr/bin/convert -size 33x29 plasma:fractal -seed 4 -interlace GIF '" + d +
                         "/magick_inter.gif'").c_str()),
            0);
  for (const char* name : {"pil_anim.gif", "pil_inter.gif", "sicle.gif", "sicle_inter.gif", "magick.gif",
                           "magick_inter.gif"}) {
    SCOPED_TRACE(name);
    TMemoryStream file;
    file.LoadFromFile(d + "/" + name);
    const TPeerGif peer = GiflibSlurp(file.Bytes());
    ASSERT_TRUE(peer.Ok) << peer.Error;
    const auto l = Load(file.Bytes());
    ASSERT_EQ(l->Error, "");
    EXPECT_TRUE(l->Warnings.empty()) << l->Warnings.front();
    const TGIFImage& g = *l->Gif;
    EXPECT_EQ(g.Width(), peer.Width);
    EXPECT_EQ(g.Height(), peer.Height);
    auto rgb = [](const TGIFColorMap& M) {
      TBytes v;
      for (const TGIFColor& c : M.Colors()) v.insert(v.end(), {c.Red, c.Green, c.Blue});
      return v;
    };
    EXPECT_EQ(rgb(g.Header().ColorMap()), peer.GlobalMap);
    ASSERT_EQ(g.Images().Count(), static_cast<int>(peer.Frames.size()));
    for (size_t i = 0; i < peer.Frames.size(); ++i) {
      const TGIFSubImage& f = *g.Images().Item(static_cast<int>(i));
      const TPeerFrame& p = peer.Frames[i];
      EXPECT_EQ(f.Left(), p.Left);
      EXPECT_EQ(f.Top(), p.Top);
      EXPECT_EQ(f.Width(), p.Width);
      EXPECT_EQ(f.Height(), p.Height);
      EXPECT_EQ(f.Interlaced(), p.Interlace);
      EXPECT_EQ(rgb(f.ColorMap()), p.LocalMap);
      EXPECT_TRUE(TBytes(f.Data(), f.Data() + f.DataSize()) == p.Pixels) << "frame " << i;
      const TGIFGraphicControlExtension* gc = f.GraphicControlExtension();
      EXPECT_EQ(gc ? (gc->Transparent() ? gc->TransparentColorIndex() : -1) : -1, p.TransparentIndex);
      EXPECT_EQ(gc ? gc->Delay() : 0, p.Delay);
      EXPECT_EQ(gc ? gc->Disposal() : 0, p.Disposal);
    }
    int loops = -1;
    std::vector<std::string> comments;
    for (int i = 0; i < g.Images().Count(); ++i)
      for (int e = 0; e < g.Images().Item(i)->Extensions().Count(); ++e) {
        const TGIFExtension* x = g.Images().Item(i)->Extensions().Item(e);
        if (auto* lp = dynamic_cast<const TGIFAppExtNSLoop*>(x)) loops = lp->Loops;
        if (auto* cm = dynamic_cast<const TGIFCommentExtension*>(x))
          comments.insert(comments.end(), cm->Text.begin(), cm->Text.end());
      }
    EXPECT_EQ(loops, peer.LoopCount);
    EXPECT_EQ(comments, peer.Comments);
    // Written back with either encoder, giflib reads the same frames.
    for (uint8_t comp : {0, 1}) {
      l->Gif->Compression = comp;
      const TPeerGif again = GiflibSlurp(Save(*l->Gif));
      ASSERT_TRUE(again.Ok);
      ASSERT_EQ(again.Frames.size(), peer.Frames.size());
      for (size_t i = 0; i < peer.Frames.size(); ++i) EXPECT_TRUE(again.Frames[i].Pixels == peer.Frames[i].Pixels);
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(GifImage, RegisteredClassLoadsThroughThePictureRegistry) {
  VemraTestStartup();
  TGIFImage g;
  g.GlobalColorMap().Add({10, 20, 30});
  g.GlobalColorMap().Add({200, 100, 50});
  auto f = std::make_unique<TGIFSubImage>(&g);
  f->SetBounds(1, 1, 2, 1);
  f->Data()[1] = 1;
  g.Add(std::move(f));
  g.SetWidth(4);
  g.SetHeight(3);
  const auto path = std::filesystem::temp_directory_path() / ("gif_registry_" + std::to_string(::getpid()) + ".GIF");
  g.SaveToFile(path.string());
  TBitmap32 b;
  b.LoadFromFile(path.string());
  std::filesystem::remove(path);
  ASSERT_EQ(b.Width(), 4);
  ASSERT_EQ(b.Height(), 3);
  // The first frame at its offset; a single frame is drawn as it is, so the
  // rest of the screen keeps the bitmap's own black.
  EXPECT_EQ(b.GetPixel(1, 1) & 0xFFFFFF, 0x0A141Eu);
  EXPECT_EQ(b.GetPixel(2, 1) & 0xFFFFFF, 0xC86432u);
  EXPECT_EQ(b.GetPixel(3, 2), 0xFF000000u);
}
