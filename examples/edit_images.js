// Edits pictures on the fly as a page would: a banner drawn from nothing, a thumbnail
// of every picture with the banner as its watermark, and the results kept in an
// Images collection that writes them out at the end.
//   vellum-script examples/edit_images.js OUTDIR FILE...
// Needs "Quillmark.Easel" and "Quillmark.Images" registered.

if (args.length < 2) throw new Error("usage: edit_images.js OUTDIR FILE...");
var outDir = args[0];
var files = args.slice(1);
var images = CreateObject("Quillmark.Images");

function baseName(path) {
  var name = path.substring(path.lastIndexOf("/") + 1);
  var dot = name.lastIndexOf(".");
  return dot > 0 ? name.substring(0, dot) : name;
}

// A gradient banner with a framed caption, kept as PNG bytes for the watermarks.
function makeBanner() {
  var easel = CreateObject("Quillmark.Easel");
  easel.CreateGradientImage(120, 36, 0x803000, 0xF0C060, eziHorizontal);
  easel.DrawLineOnImage(0, 35, 119, 35, 0xFFFFFF);
  easel.DrawEllipseOnImage(18, 18, 12, 12, 1, 0x2040C0);
  easel.Font.Name = "Liberation Sans";
  easel.Font.Height = 18;
  easel.Font.Color = 0xFFFFFF;
  easel.DrawTextOnImage(36, 8, 80, 24, "Vellum");
  return easel.SaveImage(eziMemory, eziPNG, "");
}

var banner = makeBanner();
images.LoadImage("banner", banner, EZPng);
for (var i = 0; i < files.length; i++) {
  var easel = CreateObject("Quillmark.Easel");
  try {
    easel.LoadImage(files[i]);
  } catch (e) {
    print("skipped " + files[i]);
    continue;
  }
  var from = easel.Width + " x " + easel.Height;
  easel.CreateThumbnail(-1, 150, eziBicubic, 1);
  easel.SharpenImage(1);
  easel.AddWatermark(banner, eziBottomRight, 0.6, 0xFFFFFF, 0);
  var name = baseName(files[i]);
  images.LoadImage(name + "-thumb", easel.SaveImage(eziMemory, eziJPG, ""), EZJpeg);
  easel.FlipImage(eziFlipHorizontal);
  easel.RotateImage(90, 0xFFFFFF);
  images.LoadImage(name + "-turned", easel.SaveImage(eziMemory, eziJPG, ""), EZJpeg);
  print(files[i] + " (" + from + ") -> thumbnail and turned copy, " + easel.Width + " x " +
        easel.Height + " turned");
}

for (var e = new Enumerator(images); !e.atEnd(); e.moveNext()) {
  var image = e.item();
  var target = outDir + "/" + image.Name + (image.Name == "banner" ? ".png" : ".jpg");
  images.SaveImage(image.Name, target);
  print("saved " + target + " (" + image.Image.length + " bytes)");
}
