function Grabbers.feeddemo.GetChans(Grabber)
	Tvrn.AddChannel(Grabber,{
		ID="101",
		XML_ID="101.feed.tavrin",
		Name="Feed One",
		})
	Tvrn.AddChannel(Grabber,{
		ID="102",
		XML_ID="102.feed.tavrin",
		Name="Feed Two",
		})
	Tvrn.AddChannel(Grabber,{
		ID="103",
		XML_ID="103.feed.tavrin",
		Name="Feed Films",
		})
end
