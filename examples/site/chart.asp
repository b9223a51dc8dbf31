<%@ Language="JScript" EnableSessionState=False %>
<!-- #include file="include/site.inc" -->
<%
// A bar chart of the numbers in the query, each bar with its label and value, as a PNG.
//   chart.asp?values=3,7,4[&labels=a,b,c][&title=TEXT][&width=PX][&height=PX]
var width = Math.min(Math.max(Number(param("width", "480")) || 480, 160), 1200);
var height = Math.min(Math.max(Number(param("height", "260")) || 260, 100), 800);
var values = [], labels = param("labels", "").split(",");
var given = param("values", "4,8,15,16,23,42").split(",");
for (var i = 0; i < given.length && values.length < 24; i++) {
  var value = Number(given[i]);
  if (isFinite(value) && value >= 0) values.push(value);
}
if (values.length == 0) values.push(0);
var largest = Math.max.apply(null, values) || 1;
var title = param("title", "");

var easel = Server.CreateObject("Quillmark.Easel");
easel.CreateImage(width, height, 0xFFFFFF);
easel.Font.Name = "Liberation Sans";
easel.Font.Color = 0x303030;
var top = title ? 34 : 22, bottom = 24, left = 16;
if (title) {
  easel.Font.Height = 18;
  easel.DrawTextOnImage(left, 6, width - 2 * left, 22, title);
}
easel.Font.Height = 12;
var slot = Math.floor((width - 2 * left) / values.length);
for (var k = 0; k < values.length; k++) {
  var bar = Math.round((height - top - bottom) * values[k] / largest);
  var x = left + k * slot;
  if (bar > 0) easel.FillRectInImage(x + 3, height - bottom - bar, slot - 6, bar, k % 2 ? 0xE09030 : 0x3070C0);
  easel.DrawTextOnImage(x + 3, height - bottom - bar - 15, slot - 6, 14, String(values[k]));
  if (labels[k]) easel.DrawTextOnImage(x + 3, height - bottom + 5, slot - 6, 14, labels[k].substring(0, 12));
}
easel.DrawLineOnImage(left, height - bottom, width - left, height - bottom, 0x000000);
easel.SaveImage(eziBrowser, eziPNG, "");
%>
