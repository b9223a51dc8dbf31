<%@ Language="JScript" EnableSessionState=False %>
<%
// The host benchmark's banner page: a gradient with a caption, as a PNG.
//   banner.asp?text=CAPTION
var values = Request.QueryString("text");
var caption = (values.Count > 0 ? String(values) : "Vellum").substring(0, 40);
var easel = Server.CreateObject("Quillmark.Easel");
easel.CreateGradientImage(480, 80, 0x803030, 0x40A0F0, eziHorizontal);
easel.Font.Name = "Liberation Sans";
easel.Font.Height = 36;
easel.Font.Color = 0xFFFFFF;
easel.DrawTextOnImage(20, 20, 440, 44, caption);
easel.DrawLineOnImage(0, 79, 479, 79, 0xFFFFFF);
easel.SaveImage(eziBrowser, eziPNG, "");
%>
