<%@ Language="JScript" %>
<!-- #include file="include/site.inc" -->
<!-- #include file="include/gallery.inc" -->
<%
// The gallery. A POST carries pictures from the form below: each one is turned upright
// as the camera recorded (AutoOrient), kept at most 1280 pixels wide as a JPEG, and a
// thumbnail with the site's watermark goes into the database and into the Images
// collection all pages share (Application("Thumbnails")).
var gallery = openGallery();

if (Request.ServerVariables("REQUEST_METHOD") == "POST") {
  var added = 0, refused = [];
  for (var i = 1; i <= Request.Files.Count; i++) {
    var file = Request.Files(i);
    if (file.Size == 0) continue;
    var easel = Server.CreateObject("Quillmark.Easel");
    easel.AutoOrient = true;  // phone photos record which way is up instead of turning
    try {
      easel.LoadImage(file.Bytes);  // the uploaded bytes, as they came
    } catch (e) {
      refused.push(file.FileName);
      continue;
    }
    if (easel.Width > 1280) easel.ResizeImage(1280, easel.Height * 1280 / easel.Width, eziBicubic);
    easel.ImageQuality = 85;
    var width = easel.Width, height = easel.Height;
    var picture = easel.SaveImage(eziMemory, eziJPG, "");
    makeThumbnail(easel);
    var thumbnail = easel.SaveImage(eziMemory, eziJPG, "");
    var title = formValue("title", file.FileName);
    var id = addPicture(gallery, title, file.FileName, width, height, picture, thumbnail);
    Application("Thumbnails").LoadImage("t" + id + ".jpg", thumbnail, EZJpeg);
    added++;
  }
  // After a POST, send the browser back to the gallery with a GET, so that reloading
  // the page does not upload again.
  Response.Redirect("gallery.asp?added=" + added + (refused.length ? "&refused=" +
                    Server.URLEncode(refused.join(", ")) : ""));
}

var pictures = listPictures(gallery, 60);
pageTop("Gallery");
%>
<% if (param("added", "") !== "") { %>
<p class="notice" id="notice"><%= h(param("added", "0")) %> picture(s) added.<%
   if (param("refused", "") !== "") { %> Not pictures: <%= h(param("refused", "")) %>.<% } %></p>
<% } %>

<form class="upload" method="post" action="gallery.asp" enctype="multipart/form-data">
  <label>Pictures <input type="file" name="picture" accept="image/*" multiple required></label>
  <label>Title <input type="text" name="title" maxlength="80" placeholder="optional"></label>
  <button type="submit">Upload</button>
  <span id="chosen" class="small"></span>
</form>

<% if (pictures.length == 0) { %>
<p>No pictures yet: be the first.</p>
<% } else { %>
<ul class="grid" id="gallery">
<% for (var k = 0; k < pictures.length; k++) { var p = pictures[k]; %>
  <li><a href="/picture.asp?id=<%= p.id %>"><img src="/thumb.asp?id=<%= p.id %>" alt="<%= h(p.title) %>"></a>
    <span><%= h(p.title) %><br><small><%= p.width %> &times; <%= p.height %></small></span></li>
<% } %>
</ul>
<% } %>
<script src="/gallery.js"></script>
<% pageBottom(); %>
