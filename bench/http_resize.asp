<%@ Language="JScript" EnableSessionState=False %><%
// The benchmark's big page: the 6028x3391 photo of the site's pictures folder made a
// quarter of its size with the Lanczos3 filter (one big imaging operation per request,
// the part the imaging threads share), sent as a JPEG.
var easel = Server.CreateObject("Quillmark.Easel");
easel.LoadImage(Server.MapPath("pictures/large.jpg"));
easel.ResizeFilter = 8;  // Lanczos3
easel.ResizeImage(Math.round(easel.Width / 4), Math.round(easel.Height / 4), eziFilterImage, 0);
easel.SaveImage(eziBrowser, eziJPG, "");
%>
