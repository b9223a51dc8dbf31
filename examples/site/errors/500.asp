<%@ Language="JScript" %>
<!-- #include virtual="/include/site.inc" -->
<%
// The site's page for pages that fail (the host runs it instead of its own 500 page,
// see docs/pages.md). Server.GetLastError says what went wrong and where; a visitor
// is shown only where, the host's error log has the rest.
var error = Server.GetLastError();
pageTop("Something went wrong");
%>
<p>This page could not be made: <%= h(error.Category) %> in
<code><%= h(error.File) %></code><% if (error.Line > 0) { %>, line <%= error.Line %><% } %>.</p>
<p><a href="/">Back to the front page</a></p>
<% pageBottom(); %>
