<%@ Language="JScript" %>
<!-- #include file="include/site.inc" -->
<%
// Charts from numbers typed into a form; the image is chart.asp with the same query.
var values = param("values", "12,19,3,5,2,3");
var labels = param("labels", "Red,Blue,Yellow,Green,Purple,Orange");
var title = param("title", "Votes");
var query = "values=" + Server.URLEncode(values) + "&labels=" + Server.URLEncode(labels) +
            "&title=" + Server.URLEncode(title);
pageTop("Charts");
%>
<form method="get" action="charts.asp" class="choices">
  <label>Title <input name="title" value="<%= h(title) %>" maxlength="40"></label>
  <label>Values <input name="values" value="<%= h(values) %>" size="30"></label>
  <label>Labels <input name="labels" value="<%= h(labels) %>" size="40"></label>
  <button type="submit">Draw</button>
</form>
<p><img class="made" src="/chart.asp?<%= h(query) %>" alt="<%= h(title) %>"></p>
<% pageBottom(); %>
