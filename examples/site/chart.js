// A bar chart of the numbers in the query, as a PNG.
//   chart.js?values=3,7,4
var width = 360, height = 200, margin = 20;

var values = [];
var given = (Request.QueryString("values") || "4,8,15,16,23,42").split(",");
for (var i = 0; i < given.length && values.length < 24; i++) {
  var value = Number(given[i]);
  if (isFinite(value) && value >= 0) values.push(value);
}
if (values.length === 0) throw new Error("chart.js needs values=N,N,...");
var largest = Math.max.apply(null, values) || 1;

var easel = CreateObject("Quillmark.Easel");
easel.CreateImage(width, height, 0xFFFFFF);
var slot = Math.floor((width - 2 * margin) / values.length);
for (var k = 0; k < values.length; k++) {
  var bar = Math.round((height - 2 * margin) * values[k] / largest);
  if (bar > 0) {
    var shade = k % 2 === 0 ? 0xC07030 : 0x3090E0;
    easel.FillRectInImage(margin + k * slot + 2, height - margin - bar, slot - 4, bar, shade);
  }
}
easel.DrawLineOnImage(margin, height - margin, width - margin, height - margin, 0x000000);
easel.DrawLineOnImage(margin, margin, margin, height - margin, 0x000000);
easel.SaveImage(eziBrowser, eziPNG, "");
