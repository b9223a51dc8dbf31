<%@ Language="JScript" %>
<!-- #include file="include/site.inc" -->
<%
// Shows the source of a page of this site, itself by default.
//   source.asp?page=/gallery.asp
var page = param("page", "/source.asp");
// Only the site's own pages and includes, by their path in the site.
if (!/^\/[A-Za-z0-9_\/-]+\.(asp|inc|asa|js|css)$/.test(page) || page.indexOf("..") >= 0) {
  page = "/source.asp";
}
// The file's lines, or null when it cannot be read. An Images collection holds any
// file's bytes as they are; the bytes are UTF-8 text here.
function linesOf(path) {
  var files = Server.CreateObject("Quillmark.Images");
  try {
    files.LoadImage("source", Server.MapPath(path));
  } catch (e) {
    return null;
  }
  var bytes = files("source").Image, binary = "";
  for (var i = 0; i < bytes.length; i += 4096) {
    binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 4096));
  }
  return decodeURIComponent(escape(binary)).split(/\r?\n/);
}
var source = linesOf(page);
pageTop("Source of " + page);
%>
<p>The pages of this site: <a href="?page=/index.asp">index.asp</a>,
<a href="?page=/gallery.asp">gallery.asp</a>, <a href="?page=/thumb.asp">thumb.asp</a>,
<a href="?page=/banner.asp">banner.asp</a>, <a href="?page=/chart.asp">chart.asp</a>,
<a href="?page=/include/site.inc">include/site.inc</a>,
<a href="?page=/include/gallery.inc">include/gallery.inc</a>,
<a href="?page=/global.asa">global.asa</a>.</p>
<% if (source === null) { %>
<p>There is no such page.</p>
<% } else { %>
<pre class="source"><% for (var n = 0; n < source.length; n++) { %><span class="line"><%= h(source[n]) %></span>
<% } %></pre>
<% } %>
<% pageBottom(); %>
