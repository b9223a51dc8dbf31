// The site's front page: what the other pages make, shown inline.
var pages = [
  ["banner.js?text=Hello%2C+Vellum", "A gradient banner with a caption from the query"],
  ["banner.js?text=Pictures+on+the+fly&from=203040&to=60C0F0", "The same page, other colours"],
  ["chart.js?values=3,7,4,9,6,2", "A bar chart drawn from numbers in the query"],
  ["thumb.js?name=sample.jpg", "A thumbnail of a sample picture"],
];

function escape(text) {
  return String(text).replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;")
      .replace(/"/g, "&quot;");
}

var html = ["<!DOCTYPE html>", "<html><head><meta charset=\"utf-8\"><title>Vellum pages</title>",
            "</head><body>", "<h1>Images made by page scripts</h1>", "<ul>"];
for (var i = 0; i < pages.length; i++) {
  var link = escape(pages[i][0]);
  html.push("<li><p><a href=\"" + link + "\">" + link + "</a>: " + escape(pages[i][1]) +
            "</p><img src=\"" + link + "\" alt=\"\"></li>");
}
html.push("</ul>");
html.push("<p>Served to " + escape(Request.ServerVariables("REMOTE_ADDR")) + " by " +
          escape(Request.ServerVariables("SERVER_NAME")) + ":" +
          escape(Request.ServerVariables("SERVER_PORT")) + ".</p>");
html.push("</body></html>");
Response.ContentType = "text/html; charset=utf-8";
Response.Write(html.join("\n"));
