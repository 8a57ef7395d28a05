package wrapkin.bench;

import java.awt.Font;
import java.awt.Graphics2D;
import java.awt.image.BufferedImage;
import java.io.StringReader;
import java.time.LocalDate;
import java.time.format.DateTimeFormatter;
import javax.swing.JButton;
import javax.swing.JPanel;
import javax.swing.JTable;
import javax.xml.parsers.DocumentBuilderFactory;
import org.w3c.dom.Document;
import org.xml.sax.InputSource;

/**
 * Loads what a desktop application loads while it starts, without a
 * display: Swing components, fonts and 2D drawing, an XML parser and
 * java.time. Prints one line and ends; bench/run times its start.
 */
public final class DesktopStart {
  private DesktopStart() {}

  public static void main(String[] args) throws Exception {
    JPanel panel = new JPanel();
    panel.add(new JButton("OK"));
    panel.add(new JTable(3, 3));
    BufferedImage image = new BufferedImage(64, 64, BufferedImage.TYPE_INT_ARGB);
    Graphics2D g = image.createGraphics();
    g.setFont(new Font(Font.SANS_SERIF, Font.PLAIN, 12));
    g.drawString("x", 1, 10);
    g.dispose();
    Document doc = DocumentBuilderFactory.newInstance().newDocumentBuilder()
        .parse(new InputSource(new StringReader("<app><window/></app>")));
    String date = LocalDate.of(2026, 12, 8).format(DateTimeFormatter.ISO_DATE);
    System.out.println("started " + doc.getDocumentElement().getTagName() + " " + date);
  }
}
