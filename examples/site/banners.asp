<%@ Language="JScript" %>
<!-- #include file="include/site.inc" -->
<%
// A form that makes banners: the image below is banner.asp with the choices made.
var text = param("text", "Hello, Vellum");
var font = param("font", "Liberation Sans");
var from = param("from", "303080"), to = param("to", "F0A040");
var query = "text=" + Server.URLEncode(text) + "&font=" + Server.URLEncode(font) +
            "&from=" + Server.URLEncode(from) + "&to=" + Server.URLEncode(to) +
            "&size=" + Server.URLEncode(param("size", "36")) +
            (param("vertical", "") == "1" ? "&vertical=1" : "");
pageTop("Banners");

function option(value, chosen) {
  return "<option" + (value == chosen ? " selected" : "") + ">" + h(value) + "</option>";
}
%>
<form method="get" action="banners.asp" class="choices">
  <label>Text <input name="text" value="<%= h(text) %>" maxlength="40"></label>
  <label>Font <select name="font"><%= option("Liberation Sans", font) %><%= option("Liberation Serif", font) %><%= option("Liberation Mono", font) %><%= option("DejaVu Sans", font) %></select></label>
  <label>Size <input name="size" type="number" min="10" max="64" value="<%= h(param("size", "36")) %>"></label>
  <label>From <input name="from" value="<%= h(from) %>" pattern="[0-9A-Fa-f]{6}" size="6"></label>
  <label>To <input name="to" value="<%= h(to) %>" pattern="[0-9A-Fa-f]{6}" size="6"></label>
  <label><input type="checkbox" name="vertical" value="1"<%= param("vertical", "") == "1" ? " checked" : "" %>> Top to bottom</label>
  <button type="submit">Draw</button>
</form>
<p><img class="made" src="/banner.asp?<%= h(query) %>" alt="<%= h(text) %>"></p>
<p class="small">The address of this image: <code>/banner.asp?<%= h(query) %></code></p>
<% pageBottom(); %>
