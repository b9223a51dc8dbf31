// A banner drawn on request: a gradient with a caption.
//   banner.js?text=CAPTION[&from=RRGGBB&to=RRGGBB]

// A colour in the query as RRGGBB, as the image generator wants it (0xBBGGRR).
function color(name, fallback) {
  var text = Request.QueryString(name);
  if (!/^[0-9A-Fa-f]{6}$/.test(text)) text = fallback;
  var rgb = parseInt(text, 16);
  return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

var caption = Request.QueryString("text") || "Vellum";
if (caption.length > 40) caption = caption.substring(0, 40);

var easel = CreateObject("Quillmark.Easel");
easel.CreateGradientImage(480, 80, color("from", "303080"), color("to", "F0A040"), eziHorizontal);
easel.Font.Name = "Liberation Sans";
easel.Font.Height = 36;
easel.Font.Color = 0xFFFFFF;
easel.DrawTextOnImage(20, 20, 440, 44, caption);
easel.DrawLineOnImage(0, 79, 479, 79, 0xFFFFFF);
easel.SaveImage(eziBrowser, eziPNG, "");
