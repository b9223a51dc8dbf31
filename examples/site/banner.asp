<%@ Language="JScript" EnableSessionState=False %>
<!-- #include file="include/site.inc" -->
<%
// A banner drawn on request: a gradient with a caption, as a PNG.
//   banner.asp?text=CAPTION[&font=NAME][&size=PX][&from=RRGGBB][&to=RRGGBB][&vertical=1]
var fonts = ["Liberation Sans", "Liberation Serif", "Liberation Mono", "DejaVu Sans"];
var font = param("font", fonts[0]);
if (fonts.indexOf(font) < 0) font = fonts[0];
var size = Math.min(Math.max(Number(param("size", "36")) || 36, 10), 64);
var caption = param("text", "Vellum").substring(0, 40);

var easel = Server.CreateObject("Quillmark.Easel");
easel.Font.Name = font;
easel.Font.Height = size;
easel.Font.Color = 0xFFFFFF;
// As wide as the caption needs, within limits.
var width = Math.min(Math.max(easel.TextWidth(caption) + 40, 200), 800);
var height = size + 40;
easel.CreateGradientImage(width, height, colorParam("from", "303080"), colorParam("to", "F0A040"),
                          param("vertical", "") == "1" ? eziVertical : eziHorizontal);
easel.DrawTextOnImage(20, 20, width - 40, size + 4, caption);
easel.DrawLineOnImage(0, height - 1, width - 1, height - 1, 0xFFFFFF);
easel.SaveImage(eziBrowser, eziPNG, "");
%>
