<?xml version="1.0" encoding="UTF-8"?>
<!-- A report as a web page: the title, the program that wrote it, then one table per
     group of values. A value element carries its text (number and unit label); an
     element with element children is a group, shown under its name (or its Name
     attribute) with its values in a table and its own groups below it. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes" doctype-system="about:legacy-compat"/>

  <xsl:template match="/*">
    <xsl:variable name="title">
      <xsl:choose>
        <xsl:when test="Title"><xsl:value-of select="Title"/></xsl:when>
        <xsl:otherwise><xsl:value-of select="local-name()"/></xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <html>
      <head>
        <title><xsl:value-of select="$title"/></title>
        <style>
          body { font-family: sans-serif; margin: 2em; color: #1a1a2e; }
          h1 { border-bottom: 2px solid #1f4e79; padding-bottom: 0.2em; }
          h2, h3, h4 { color: #1f4e79; margin-top: 1.4em; }
          p.origin { color: #555; font-size: 0.9em; }
          table { border-collapse: collapse; margin: 0.5em 0 1em 0; min-width: 24em; }
          th, td { border: 1px solid #c8d3e0; padding: 0.3em 0.8em; text-align: left; }
          th { background: #e8eef6; font-weight: normal; width: 40%; }
          td.number { text-align: right; font-variant-numeric: tabular-nums; }
        </style>
      </head>
      <body>
        <h1><xsl:value-of select="$title"/></h1>
        <xsl:if test="Application">
          <p class="origin">
            <xsl:value-of select="Application/Name"/>
            <xsl:text> version </xsl:text>
            <xsl:value-of select="Application/Version"/>
            <xsl:text>, report version </xsl:text>
            <xsl:value-of select="Version"/>
          </p>
        </xsl:if>
        <xsl:call-template name="group">
          <xsl:with-param name="items" select="*[not(self::Title or self::Version or self::Application)]"/>
          <xsl:with-param name="depth" select="2"/>
        </xsl:call-template>
      </body>
    </html>
  </xsl:template>

  <!-- The values of one level in a table, then each sub-group under its heading. -->
  <xsl:template name="group">
    <xsl:param name="items"/>
    <xsl:param name="depth"/>
    <xsl:if test="$items[not(*)]">
      <table>
        <xsl:for-each select="$items[not(*)]">
          <tr>
            <th><xsl:value-of select="local-name()"/></th>
            <td>
              <xsl:if test="@value"><xsl:attribute name="class">number</xsl:attribute></xsl:if>
              <xsl:value-of select="."/>
            </td>
          </tr>
        </xsl:for-each>
      </table>
    </xsl:if>
    <xsl:for-each select="$items[*]">
      <xsl:element name="{concat('h', $depth)}">
        <xsl:choose>
          <xsl:when test="@Name"><xsl:value-of select="@Name"/></xsl:when>
          <xsl:otherwise><xsl:value-of select="local-name()"/></xsl:otherwise>
        </xsl:choose>
      </xsl:element>
      <xsl:call-template name="group">
        <xsl:with-param name="items" select="*"/>
        <xsl:with-param name="depth" select="$depth + 1 - number($depth &gt;= 4)"/>
      </xsl:call-template>
    </xsl:for-each>
  </xsl:template>
</xsl:stylesheet>
